#pragma once
// The arguments of one IDispatch::Invoke call, read the way script and Basic clients pass
// them: positional arguments first, then named ones in any order (a name's DISPID is the
// parameter's position, as GetIDsOfNames maps it), and a property put's value named
// DISPID_PROPERTYPUT. Any variant that converts to the declared type is taken (by
// reference or by value, since the control never changes an argument); an omitted
// optional argument takes its default.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <optional>
#include <string>

#include "server/variant_bridge.h"

namespace kestova::server {

class DispatchArguments {
 public:
  // Raises DispatchFailure(DISP_E_PARAMNOTOPTIONAL) for a property put without its value.
  DispatchArguments(const DISPPARAMS* parameters, bool property_put);

  // For a member of max parameters, the first min of them required. Raises
  // DispatchFailure: DISP_E_BADPARAMCOUNT for more than max positional arguments,
  // DISP_E_PARAMNOTFOUND (naming the argument) for a named one that is no parameter of
  // the member or one given already, DISP_E_PARAMNOTOPTIONAL for a missing required one.
  void ExpectCount(unsigned min, unsigned max) const;

  std::int16_t Integer(unsigned position) const;
  std::int16_t OptionalInteger(unsigned position, std::int16_t default_value) const;
  std::int32_t Long(unsigned position) const;
  std::string String(unsigned position) const;
  IntegerArrayArgument IntegerArray(unsigned position) const;

  // The value of a property put.
  const VARIANT& PutValue() const;

 private:
  bool IsPutValue(unsigned index) const { return put_value_ && *put_value_ == index; }
  // Null when the argument was omitted.
  const VARIANT* At(unsigned position) const;
  const VARIANT& Required(unsigned position) const;

  const DISPPARAMS& parameters_;
  unsigned positional_count_;
  std::optional<unsigned> put_value_;  // its index in rgvarg
};

// Whether a variant stands for an omitted optional argument: VT_ERROR holding
// DISP_E_PARAMNOTFOUND, given directly or by reference.
bool IsOmitted(const VARIANT& value);

}  // namespace kestova::server
