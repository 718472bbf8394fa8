#include "control/tarvane.h"

#include "kestova/version.h"

namespace kestova {

Tarvane::Tarvane(Host& host, std::unique_ptr<SerialPort> port)
    : host_(host), port_(std::move(port)) {}

Tarvane::~Tarvane() = default;

void Tarvane::InitProperties() {
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

void Tarvane::Resize(std::int32_t /*width_twips*/, std::int32_t /*height_twips*/) {
  // Whatever size the host asked for, the control sets its width and then its height
  // back to the fixed extent.
  extent_width_ = kExtentWidthTwips;
  extent_height_ = kExtentHeightTwips;
}

std::string Tarvane::VersionLine() {
  return "Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
         std::to_string(kVersionPatch);
}

void Tarvane::ShowAboutBox() { host_.ShowAboutBox(VersionLine()); }

void Tarvane::Raise(const std::string& text) { host_.MelsecOut(text); }

void Tarvane::Changed(std::string_view property_name) { host_.PropertyChanged(property_name); }

// ---- properties held in the control ----------------------------------------------------

void Tarvane::SetEnabled(bool value) {
  enabled_ = value;
  Changed("Enabled");
}

void Tarvane::SetTimeout(std::int16_t value) {
  timeout_ = value;
  Changed("Timeout");
}

void Tarvane::SetStationNo(std::int16_t value) {
  station_no_ = value;
  Changed("StationNo");
}

void Tarvane::SetNetworkNo(std::int16_t value) {
  network_no_ = value;
  Changed("NetworkNo");
}

void Tarvane::SetPCNumber(std::int16_t value) {
  pc_number_ = value;
  Changed("PCNumber");
}

void Tarvane::SetRqstDestMdIO(std::int32_t value) {
  rqst_dest_md_io_ = value;
  Changed("RqstDestMdIO");
}

void Tarvane::SetRqstDestMdSta(std::int16_t value) {
  rqst_dest_md_sta_ = value;
  Changed("RqstDestMdSta");
}

void Tarvane::SetPLCType(MELSECPLCType value) {
  plc_type_ = value;
  Changed("PLCType");
}

void Tarvane::SetSumCheck(bool value) {
  sum_check_ = value;
  Changed("SumCheck");
}

// ---- pass-through properties: the serial port object holds them -------------------------
// A let the port refuses raises its error before the host is told anything.

std::int16_t Tarvane::CommPort() const { return port_->CommPort(); }

void Tarvane::SetCommPort(std::int16_t value) {
  port_->SetCommPort(value);
  Changed("CommPort");
}

std::string Tarvane::Settings() const { return port_->Settings(); }

void Tarvane::SetSettings(const std::string& value) {
  port_->SetSettings(value);
  Changed("Settings");
}

std::int32_t Tarvane::Handshaking() const { return port_->Handshaking(); }

void Tarvane::SetHandshaking(std::int32_t value) {
  port_->SetHandshaking(value);
  Changed("Handshaking");
}

bool Tarvane::PortOpen() const { return port_->PortOpen(); }

void Tarvane::SetPortOpen(bool value) {
  port_->SetPortOpen(value);
  Changed("PortOpen");
}

// ---- device image getters -----------------------------------------------------------------

bool Tarvane::PLCX(std::int32_t index) const { return image_.Bit(DeviceFamily::X, index); }
bool Tarvane::PLCY(std::int32_t index) const { return image_.Bit(DeviceFamily::Y, index); }
bool Tarvane::PLCM(std::int32_t index) const { return image_.Bit(DeviceFamily::M, index); }
bool Tarvane::PLCB(std::int32_t index) const { return image_.Bit(DeviceFamily::B, index); }
std::int16_t Tarvane::PLCD(std::int32_t index) const { return image_.Word(DeviceFamily::D, index); }
std::int16_t Tarvane::PLCW(std::int32_t index) const { return image_.Word(DeviceFamily::W, index); }
std::int16_t Tarvane::PLCZR(std::int32_t index) const { return image_.Word(DeviceFamily::ZR, index); }
bool Tarvane::PLCSM(std::int32_t index) const { return image_.Bit(DeviceFamily::SM, index); }
std::int16_t Tarvane::PLCSD(std::int32_t index) const { return image_.Word(DeviceFamily::SD, index); }
bool Tarvane::PLCSB(std::int32_t index) const { return image_.Bit(DeviceFamily::SB, index); }
std::int16_t Tarvane::PLCSW(std::int32_t index) const { return image_.Word(DeviceFamily::SW, index); }
bool Tarvane::PLCL(std::int32_t index) const { return image_.Bit(DeviceFamily::L, index); }
bool Tarvane::PLCF(std::int32_t index) const { return image_.Bit(DeviceFamily::F, index); }
bool Tarvane::PLCS(std::int32_t index) const { return image_.Bit(DeviceFamily::S, index); }

int Tarvane::Image(DeviceFamily family, std::int32_t index) const { return image_.Value(family, index); }

}  // namespace kestova
