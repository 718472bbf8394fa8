#include "server/dispatch_arguments.h"

#include "server/com_error.h"

namespace kestova::server {
namespace {

const DISPPARAMS kNoParameters{nullptr, nullptr, 0, 0};

bool IsOmitted(const VARIANT& value) {
  return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND;
}

}  // namespace

DispatchArguments::DispatchArguments(const DISPPARAMS* parameters, bool property_put)
    : parameters_(parameters ? *parameters : kNoParameters) {
  if (parameters_.cArgs > 0 && !parameters_.rgvarg) throw DispatchFailure(E_INVALIDARG);
  if (property_put) {
    // The value is named DISPID_PROPERTYPUT and comes first in rgvarg.
    const bool named_put = parameters_.cNamedArgs == 1 && parameters_.rgdispidNamedArgs &&
                           parameters_.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    if (parameters_.cArgs == 0 || (parameters_.cNamedArgs != 0 && !named_put)) {
      throw DispatchFailure(DISP_E_PARAMNOTOPTIONAL);
    }
    positional_count_ = parameters_.cArgs - 1;
  } else {
    if (parameters_.cNamedArgs != 0) throw DispatchFailure(DISP_E_NONAMEDARGS);
    positional_count_ = parameters_.cArgs;
  }
}

void DispatchArguments::ExpectCount(unsigned min, unsigned max) const {
  if (positional_count_ > max) throw DispatchFailure(DISP_E_BADPARAMCOUNT);
  for (unsigned position = 0; position < min; ++position) Required(position);
}

const VARIANT* DispatchArguments::At(unsigned position) const {
  if (position >= positional_count_) return nullptr;
  // rgvarg holds the arguments last first; a put's value sits before them at index 0.
  const VARIANT& value = parameters_.rgvarg[parameters_.cArgs - 1 - position];
  return IsOmitted(value) ? nullptr : &value;
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

const VARIANT& DispatchArguments::PutValue() const { return parameters_.rgvarg[0]; }

}  // namespace kestova::server
