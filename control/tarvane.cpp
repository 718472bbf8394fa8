#include "control/tarvane.h"

#include <limits>

#include "kestova/version.h"
#include "link/automation_error.h"

namespace kestova {
namespace {

// SB and SW getters have no guard of their own: every index goes to the array test.
constexpr std::int32_t kNoGuard = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kSpecialLimit = 2047;
constexpr std::int32_t kRelayLimit = 8191;

}  // namespace

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

bool Tarvane::PLCX(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::X, index, limits_.x); }
bool Tarvane::PLCY(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::Y, index, limits_.y); }
bool Tarvane::PLCM(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::M, index, limits_.m); }
bool Tarvane::PLCB(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::B, index, limits_.b); }
std::int16_t Tarvane::PLCD(std::int32_t index) const { return image_.GuardedWord(DeviceFamily::D, index, limits_.d); }
std::int16_t Tarvane::PLCW(std::int32_t index) const { return image_.GuardedWord(DeviceFamily::W, index, limits_.w); }
// Every ZR element is inside the 64000 guard; past it the 32-bit index meets the array's
// own bounds test, like SB and SW.
std::int16_t Tarvane::PLCZR(std::int32_t index) const { return image_.GuardedWord(DeviceFamily::ZR, index, kNoGuard); }
bool Tarvane::PLCSM(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::SM, index, kSpecialLimit); }
std::int16_t Tarvane::PLCSD(std::int32_t index) const { return image_.GuardedWord(DeviceFamily::SD, index, kSpecialLimit); }
bool Tarvane::PLCSB(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::SB, index, kNoGuard); }
std::int16_t Tarvane::PLCSW(std::int32_t index) const { return image_.GuardedWord(DeviceFamily::SW, index, kNoGuard); }
bool Tarvane::PLCL(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::L, index, kRelayLimit); }
bool Tarvane::PLCF(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::F, index, kRelayLimit); }
bool Tarvane::PLCS(std::int32_t index) const { return image_.GuardedBit(DeviceFamily::S, index, kRelayLimit); }

int Tarvane::Image(DeviceFamily family, std::int32_t index) const {
  switch (family) {
    case DeviceFamily::X: return PLCX(index) ? 1 : 0;
    case DeviceFamily::Y: return PLCY(index) ? 1 : 0;
    case DeviceFamily::M: return PLCM(index) ? 1 : 0;
    case DeviceFamily::B: return PLCB(index) ? 1 : 0;
    case DeviceFamily::SM: return PLCSM(index) ? 1 : 0;
    case DeviceFamily::SB: return PLCSB(index) ? 1 : 0;
    case DeviceFamily::L: return PLCL(index) ? 1 : 0;
    case DeviceFamily::F: return PLCF(index) ? 1 : 0;
    case DeviceFamily::S: return PLCS(index) ? 1 : 0;
    case DeviceFamily::D: return PLCD(index);
    case DeviceFamily::W: return PLCW(index);
    case DeviceFamily::ZR: return PLCZR(index);
    case DeviceFamily::SD: return PLCSD(index);
    case DeviceFamily::SW: return PLCSW(index);
  }
  throw AutomationError(ErrorNumber::InvalidCall);
}

}  // namespace kestova
