#include "server/variant_bridge.h"

#include <new>

#include "link/automation_error.h"
#include "server/text.h"

namespace kestova::server {
namespace {

void ChangeType(const VARIANT& value, VARTYPE type, VARIANT* out) {
  const HRESULT hr =
      VariantChangeType(out, const_cast<VARIANT*>(&ThroughReferences(value)), 0, type);
  if (hr == DISP_E_OVERFLOW) throw AutomationError(ErrorNumber::Overflow);
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) throw AutomationError(ErrorNumber::TypeMismatch);
}

class SafeArrayAccess {
 public:
  explicit SafeArrayAccess(SAFEARRAY* array) : array_(array) {
    if (FAILED(SafeArrayAccessData(array_, &data_))) {
      throw AutomationError(ErrorNumber::TypeMismatch);
    }
  }
  ~SafeArrayAccess() { SafeArrayUnaccessData(array_); }
  SafeArrayAccess(const SafeArrayAccess&) = delete;
  SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;
  template <class T>
  const T* As() const {
    return static_cast<const T*>(data_);
  }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

}  // namespace

const VARIANT& ThroughReferences(const VARIANT& value) {
  const VARIANT* current = &value;
  while (current->vt == (VT_VARIANT | VT_BYREF) && current->pvarVal) current = current->pvarVal;
  return *current;
}

std::int16_t ComToInteger(const VARIANT& value) {
  ScopedVariant converted;
  ChangeType(value, VT_I2, converted.get());
  return (*converted).iVal;
}

std::int32_t ComToLong(const VARIANT& value) {
  ScopedVariant converted;
  ChangeType(value, VT_I4, converted.get());
  return (*converted).lVal;
}

bool ComToBoolean(const VARIANT& value) {
  ScopedVariant converted;
  ChangeType(value, VT_BOOL, converted.get());
  return (*converted).boolVal != VARIANT_FALSE;
}

std::string ComToString(const VARIANT& value) {
  ScopedVariant converted;
  ChangeType(value, VT_BSTR, converted.get());
  return NarrowBstr((*converted).bstrVal);
}

Variant ComToCoreVariant(const VARIANT& value) {
  const VARIANT& plain = ThroughReferences(value);
  switch (plain.vt & ~VT_BYREF) {
    case VT_BOOL:
      return ComToBoolean(plain);
    case VT_I2:
    case VT_I1:
    case VT_UI1:
      return ComToInteger(plain);
    case VT_BSTR:
      return ComToString(plain);
    default:
      break;
  }
  // Any other number is taken as a Long; anything else as its text, if it has one.
  try {
    return ComToLong(plain);
  } catch (const AutomationError& error) {
    if (error.number() == ErrorNumber::Overflow) throw;
  }
  return ComToString(plain);
}

void CoreToComVariant(const Variant& value, VARIANT* out) {
  VariantInit(out);
  if (const bool* flag = std::get_if<bool>(&value)) {
    out->vt = VT_BOOL;
    out->boolVal = ToVariantBool(*flag);
  } else if (const std::int16_t* integer = std::get_if<std::int16_t>(&value)) {
    out->vt = VT_I2;
    out->iVal = *integer;
  } else if (const std::int32_t* number = std::get_if<std::int32_t>(&value)) {
    out->vt = VT_I4;
    out->lVal = *number;
  } else {
    out->bstrVal = AllocBstr(std::get<std::string>(value));
    out->vt = VT_BSTR;
  }
}

IntegerArrayArgument::IntegerArrayArgument(const VARIANT& value) {
  const VARIANT& plain = ThroughReferences(value);
  if (!(plain.vt & VT_ARRAY)) throw AutomationError(ErrorNumber::TypeMismatch);
  SAFEARRAY* array =
      (plain.vt & VT_BYREF) ? (plain.pparray ? *plain.pparray : nullptr) : plain.parray;
  Take(array, static_cast<VARTYPE>(plain.vt & VT_TYPEMASK));
}

IntegerArrayArgument::IntegerArrayArgument(SAFEARRAY* array) { Take(array, VT_I2); }

void IntegerArrayArgument::Take(SAFEARRAY* array, VARTYPE element_type) {
  if (element_type != VT_I2 && element_type != VT_VARIANT) {
    throw AutomationError(ErrorNumber::TypeMismatch);
  }
  if (!array) return;  // never dimensioned: dimensions stay 0
  dimensions_ = static_cast<int>(SafeArrayGetDim(array));
  if (dimensions_ != 1) return;

  // The declared element type and the array's own must agree before we read its memory.
  // Arrays made without a recorded type are judged by their element size.
  VARTYPE stored = VT_EMPTY;
  const bool typed = SUCCEEDED(SafeArrayGetVartype(array, &stored));
  const ULONG wanted_size = element_type == VT_I2 ? sizeof(SHORT) : sizeof(VARIANT);
  if ((typed && stored != element_type) || SafeArrayGetElemsize(array) != wanted_size) {
    throw AutomationError(ErrorNumber::TypeMismatch);
  }
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    throw AutomationError(ErrorNumber::SubscriptOutOfRange);
  }
  lower_bound_ = lower;
  const long long count = static_cast<long long>(upper) - lower + 1;
  if (count <= 0) return;

  SafeArrayAccess access(array);
  elements_.reserve(static_cast<std::size_t>(count));
  for (long long k = 0; k < count; ++k) {
    if (element_type == VT_I2) {
      elements_.push_back(access.As<SHORT>()[k]);
    } else {
      elements_.push_back(ComToInteger(access.As<VARIANT>()[k]));
    }
  }
}

}  // namespace kestova::server
