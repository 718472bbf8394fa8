#include "server/property_bag_adapter.h"

#include "server/com_error.h"
#include "server/text.h"
#include "server/variant_bridge.h"

namespace kestova::server {

Variant ComPropertyBag::ReadProperty(const std::string& key, const Variant& default_value) {
  const std::wstring name = Widen(key);
  ScopedVariant value;  // VT_EMPTY: the bag hands back the type it stored
  const HRESULT hr = bag_.Read(name.c_str(), value.get(), error_log_);
  // Bags report a key they do not hold as E_INVALIDARG; some leave the value empty.
  if (hr == E_INVALIDARG || (SUCCEEDED(hr) && (*value).vt == VT_EMPTY)) return default_value;
  if (FAILED(hr)) throw ComFailure(hr);
  return ComToCoreVariant(*value);
}

void ComPropertyBag::WriteProperty(const std::string& key, const Variant& value,
                                   const Variant& /*default_value*/) {
  const std::wstring name = Widen(key);
  ScopedVariant stored;
  CoreToComVariant(value, stored.get());
  const HRESULT hr = bag_.Write(name.c_str(), stored.get());
  if (FAILED(hr)) throw ComFailure(hr);
}

}  // namespace kestova::server
