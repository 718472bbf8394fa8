#include "control/configuration.h"

namespace kestova {

void Configuration::InitProperties() {
  enabled_ = true;
  timeout_ = 3;
  station_no_ = 0;
  network_no_ = 0;
  pc_number_ = 255;
  rqst_dest_md_io_ = 1023;
  rqst_dest_md_sta_ = 0;
  plc_type_ = Q_Fundmental;
  sum_check_ = false;
}

// ---- lets of the values held here ----------------------------------------------------------

void Configuration::SetEnabled(bool value) {
  enabled_ = value;
  Changed("Enabled");
}

void Configuration::SetTimeout(std::int16_t value) {
  timeout_ = value;
  Changed("Timeout");
}

void Configuration::SetStationNo(std::int16_t value) {
  station_no_ = value;
  Changed("StationNo");
}

void Configuration::SetNetworkNo(std::int16_t value) {
  network_no_ = value;
  Changed("NetworkNo");
}

void Configuration::SetPCNumber(std::int16_t value) {
  pc_number_ = value;
  Changed("PCNumber");
}

void Configuration::SetRqstDestMdIO(std::int32_t value) {
  rqst_dest_md_io_ = value;
  Changed("RqstDestMdIO");
}

void Configuration::SetRqstDestMdSta(std::int16_t value) {
  rqst_dest_md_sta_ = value;
  Changed("RqstDestMdSta");
}

void Configuration::SetPLCType(MELSECPLCType value) {
  plc_type_ = value;
  Changed("PLCType");
}

void Configuration::SetSumCheck(bool value) {
  sum_check_ = value;
  Changed("SumCheck");
}

// ---- lets that pass through to the serial port object --------------------------------------
// A let the port refuses raises its error before the host is told anything.

void Configuration::SetCommPort(std::int16_t value) {
  port_.SetCommPort(value);
  Changed("CommPort");
}

void Configuration::SetSettings(const std::string& value) {
  port_.SetSettings(value);
  Changed("Settings");
}

void Configuration::SetHandshaking(std::int32_t value) {
  port_.SetHandshaking(value);
  Changed("Handshaking");
}

void Configuration::SetPortOpen(bool value) {
  port_.SetPortOpen(value);
  Changed("PortOpen");
}

// ---- the host's property bag ---------------------------------------------------------------
// "PortOpen" is saved for the record but never loaded, so a loaded control always starts
// with its port closed.

void Configuration::Save(PropertyBag& bag) const {
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

void Configuration::Load(PropertyBag& bag) {
  // Each key is applied before the next is read: a failure leaves the earlier ones
  // applied and the later ones at their creation state. Nothing notifies the host.
  enabled_ = VariantToBoolean(bag.ReadProperty("Enabled", true));
  port_.SetCommPort(VariantToInteger(bag.ReadProperty("CommPort", std::int16_t{1})));
  port_.SetSettings(VariantToString(bag.ReadProperty("Settings", std::string("9600,n,8,1"))));
  port_.SetHandshaking(VariantToLong(bag.ReadProperty("Handshaking", std::int16_t{0})));
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
