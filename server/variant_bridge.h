#pragma once
// Automation VARIANTs to and from the core's values. Conversions follow VariantChangeType
// (so a script's text "12" is the Integer 12): a value out of range raises Overflow (6),
// one that cannot be converted Type mismatch (13). By-reference values are read through.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kestova/tarvane.h"
#include "control/variant.h"

namespace kestova::server {

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  VARIANT* get() { return &value_; }
  const VARIANT& operator*() const { return value_; }

 private:
  VARIANT value_;
};

// The variant a chain of VT_BYREF | VT_VARIANT references leads to (scripts pass
// variables as references to variants, sometimes nested).
const VARIANT& ThroughReferences(const VARIANT& value);

std::int16_t ComToInteger(const VARIANT& value);
std::int32_t ComToLong(const VARIANT& value);
bool ComToBoolean(const VARIANT& value);
std::string ComToString(const VARIANT& value);

// A bag's value as the nearest core value: Boolean, Integer, Long or String.
Variant ComToCoreVariant(const VARIANT& value);
// out must be empty (VariantInit'ed or cleared); raises std::bad_alloc.
void CoreToComVariant(const Variant& value, VARIANT* out);

inline VARIANT_BOOL ToVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// WriteBlock's data from a script or compiled client: a safe array of Integer (VT_I2) or
// of Variant whose elements convert to Integer, given directly or by reference. A null
// array is one that was never dimensioned; anything that is not such an array raises
// Type mismatch.
class IntegerArrayArgument {
 public:
  explicit IntegerArrayArgument(const VARIANT& value);
  explicit IntegerArrayArgument(SAFEARRAY* array);  // a VT_I2 array, or null
  IntegerArray View() const { return {lower_bound_, elements_, dimensions_}; }

 private:
  void Take(SAFEARRAY* array, VARTYPE element_type);

  std::int32_t lower_bound_ = 0;
  std::vector<std::int16_t> elements_;
  int dimensions_ = 0;
};

}  // namespace kestova::server
