#include "server/dispatch_arguments.h"

#include "server/com_error.h"

namespace kestova::server {
namespace {

const DISPPARAMS kNoParameters{nullptr, nullptr, 0, 0};

}  // namespace

bool IsOmitted(const VARIANT& value) {
  const VARIANT& plain = ThroughReferences(value);
  if (plain.vt == VT_ERROR) return plain.scode == DISP_E_PARAMNOTFOUND;
  return plain.vt == (VT_ERROR | VT_BYREF) && plain.pscode && *plain.pscode == DISP_E_PARAMNOTFOUND;
}

DispatchArguments::DispatchArguments(const DISPPARAMS* parameters, bool property_put)
    : parameters_(parameters ? *parameters : kNoParameters) {
  const unsigned count = parameters_.cArgs;
  const unsigned named = parameters_.cNamedArgs;
  if ((count > 0 && !parameters_.rgvarg) || named > count ||
      (named > 0 && !parameters_.rgdispidNamedArgs)) {
    throw DispatchFailure(E_INVALIDARG);
  }
  positional_count_ = count - named;
  if (!property_put) return;
  for (unsigned k = 0; k < named; ++k) {
    if (parameters_.rgdispidNamedArgs[k] == DISPID_PROPERTYPUT) put_value_ = k;
  }
  // Some clients send a put's value unnamed; it is then the last argument.
  if (!put_value_ && named == 0 && count > 0) {
    put_value_ = 0;
    --positional_count_;
  }
  if (!put_value_) throw DispatchFailure(DISP_E_PARAMNOTOPTIONAL);
}

void DispatchArguments::ExpectCount(unsigned min, unsigned max) const {
  if (positional_count_ > max) throw DispatchFailure(DISP_E_BADPARAMCOUNT);
  const DISPID* ids = parameters_.rgdispidNamedArgs;
  for (unsigned k = 0; k < parameters_.cNamedArgs; ++k) {
    if (IsPutValue(k)) continue;
    bool repeated = false;
    for (unsigned earlier = 0; earlier < k; ++earlier) {
      repeated = repeated || (!IsPutValue(earlier) && ids[earlier] == ids[k]);
    }
    if (ids[k] < static_cast<DISPID>(positional_count_) || ids[k] >= static_cast<DISPID>(max) ||
        repeated) {
      throw DispatchFailure(DISP_E_PARAMNOTFOUND, k);
    }
  }
  for (unsigned position = 0; position < min; ++position) Required(position);
}

const VARIANT* DispatchArguments::At(unsigned position) const {
  const VARIANT* value = nullptr;
  if (position < positional_count_) {
    // Positional arguments sit behind the named ones, last first.
    value = &parameters_.rgvarg[parameters_.cArgs - 1 - position];
  } else {
    for (unsigned k = 0; k < parameters_.cNamedArgs; ++k) {
      if (!IsPutValue(k) && parameters_.rgdispidNamedArgs[k] == static_cast<DISPID>(position)) {
        value = &parameters_.rgvarg[k];
      }
    }
  }
  return value && !IsOmitted(*value) ? value : nullptr;
}

const VARIANT& DispatchArguments::Required(unsigned position) const {
  const VARIANT* value = At(position);
  if (!value) throw DispatchFailure(DISP_E_PARAMNOTOPTIONAL);
  return *value;
}

std::int16_t DispatchArguments::Integer(unsigned position) const {
  return ComToInteger(Required(position));
}

std::int16_t DispatchArguments::OptionalInteger(unsigned position,
                                                std::int16_t default_value) const {
  const VARIANT* value = At(position);
  return value ? ComToInteger(*value) : default_value;
}

std::int32_t DispatchArguments::Long(unsigned position) const {
  return ComToLong(Required(position));
}

std::string DispatchArguments::String(unsigned position) const {
  return ComToString(Required(position));
}

IntegerArrayArgument DispatchArguments::IntegerArray(unsigned position) const {
  return IntegerArrayArgument(Required(position));
}

const VARIANT& DispatchArguments::PutValue() const { return parameters_.rgvarg[*put_value_]; }

}  // namespace kestova::server
