#include "server/member_ids.h"

#include <array>

namespace kestova::server {
namespace {

struct NamedProperty {
  std::string_view name;
  DISPID id;
};

constexpr std::array<NamedProperty, 13> kConfigurationProperties = {{
    {"Enabled", dispid::kEnabled},
    {"CommPort", dispid::kCommPort},
    {"Settings", dispid::kSettings},
    {"Handshaking", dispid::kHandshaking},
    {"Timeout", dispid::kTimeout},
    {"StationNo", dispid::kStationNo},
    {"NetworkNo", dispid::kNetworkNo},
    {"PCNumber", dispid::kPCNumber},
    {"RqstDestMdIO", dispid::kRqstDestMdIO},
    {"RqstDestMdSta", dispid::kRqstDestMdSta},
    {"PLCType", dispid::kPLCType},
    {"SumCheck", dispid::kSumCheck},
    {"PortOpen", dispid::kPortOpen},
}};

}  // namespace

std::optional<DISPID> PropertyIdByName(std::string_view name) {
  for (const NamedProperty& property : kConfigurationProperties) {
    if (property.name == name) return property.id;
  }
  return std::nullopt;
}

}  // namespace kestova::server
