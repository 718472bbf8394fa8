// Saving and loading the configuration through the host's property bag: thirteen keys
// written, the first twelve read back; "PortOpen" is saved for the record but never
// loaded, so a loaded control always starts with its port closed.

#include "control/tarvane.h"

namespace kestova {

void Tarvane::WriteProperties(PropertyBag& bag) const {
  bag.WriteProperty("Enabled", enabled_, true);
  bag.WriteProperty("CommPort", CommPort(), std::int16_t{1});
  bag.WriteProperty("Settings", Settings(), std::string("9600,n,8,1"));
  bag.WriteProperty("Handshaking", Handshaking(), std::int16_t{0});
  bag.WriteProperty("Timeout", timeout_, std::int16_t{3});
  bag.WriteProperty("StationNo", station_no_, std::int16_t{0});
  bag.WriteProperty("NetworkNo", network_no_, std::int16_t{0});
  bag.WriteProperty("PCNumber", pc_number_, std::int16_t{255});
  bag.WriteProperty("RqstDestMdIO", rqst_dest_md_io_, std::int16_t{1023});
  bag.WriteProperty("RqstDestMdSta", rqst_dest_md_sta_, std::int16_t{0});
  bag.WriteProperty("PLCType", static_cast<std::int32_t>(plc_type_), std::int16_t{0});
  bag.WriteProperty("SumCheck", sum_check_, false);
  bag.WriteProperty("PortOpen", PortOpen(), false);
}

void Tarvane::ReadProperties(PropertyBag& bag) {
  // Each key is applied before the next is read: a failure leaves the earlier ones
  // applied and the later ones at their creation state. Nothing notifies the host.
  enabled_ = VariantToBoolean(bag.ReadProperty("Enabled", true));
  port_->SetCommPort(VariantToInteger(bag.ReadProperty("CommPort", std::int16_t{1})));
  port_->SetSettings(VariantToString(bag.ReadProperty("Settings", std::string("9600,n,8,1"))));
  port_->SetHandshaking(VariantToLong(bag.ReadProperty("Handshaking", std::int16_t{0})));
  timeout_ = VariantToInteger(bag.ReadProperty("Timeout", std::int16_t{3}));
  station_no_ = VariantToInteger(bag.ReadProperty("StationNo", std::int16_t{0}));
  network_no_ = VariantToInteger(bag.ReadProperty("NetworkNo", std::int16_t{0}));
  pc_number_ = VariantToInteger(bag.ReadProperty("PCNumber", std::int16_t{255}));
  rqst_dest_md_io_ = VariantToLong(bag.ReadProperty("RqstDestMdIO", std::int16_t{1023}));
  rqst_dest_md_sta_ = VariantToInteger(bag.ReadProperty("RqstDestMdSta", std::int16_t{0}));
  plc_type_ = static_cast<MELSECPLCType>(VariantToLong(bag.ReadProperty("PLCType", std::int16_t{0})));
  sum_check_ = VariantToBoolean(bag.ReadProperty("SumCheck", false));
}

}  // namespace kestova
