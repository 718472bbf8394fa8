#pragma once
// The arguments of one IDispatch::Invoke call, read the way script clients pass them:
// any variant that converts to the declared type is taken (by reference or by value,
// since the control never changes an argument), an omitted optional argument (absent, or
// VT_ERROR with DISP_E_PARAMNOTFOUND) takes its default.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "server/variant_bridge.h"

namespace kestova::server {

class DispatchArguments {
 public:
  // Raises DispatchFailure for named arguments other than a property put's value.
  DispatchArguments(const DISPPARAMS* parameters, bool property_put);

  // Raises DispatchFailure(DISP_E_BADPARAMCOUNT) unless min <= count <= max.
  void ExpectCount(unsigned min, unsigned max) const;

  std::int16_t Integer(unsigned position) const;
  std::int16_t OptionalInteger(unsigned position, std::int16_t default_value) const;
  std::int32_t Long(unsigned position) const;
  std::string String(unsigned position) const;
  IntegerArrayArgument IntegerArray(unsigned position) const;

  // The value of a property put.
  const VARIANT& PutValue() const;

 private:
  // Null when the argument was omitted.
  const VARIANT* At(unsigned position) const;
  const VARIANT& Required(unsigned position) const;

  const DISPPARAMS& parameters_;
  unsigned positional_count_;
};

}  // namespace kestova::server
