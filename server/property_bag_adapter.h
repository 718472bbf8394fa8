#pragma once
// The host's IPropertyBag seen as the core's PropertyBag. Values are written as VT_BOOL,
// VT_I2, VT_I4 or VT_BSTR by their value type; a key the bag does not hold reads as the
// default; a bag that fails otherwise ends the load or save with its HRESULT.

#include <windows.h>
#include <ocidl.h>

#include "control/property_bag.h"

namespace kestova::server {

class ComPropertyBag : public PropertyBag {
 public:
  ComPropertyBag(IPropertyBag& bag, IErrorLog* error_log) : bag_(bag), error_log_(error_log) {}

  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;

 private:
  IPropertyBag& bag_;
  IErrorLog* error_log_;
};

}  // namespace kestova::server
