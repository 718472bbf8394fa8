#pragma once
// Tarvane: the control. A host creates it (the constructor is the Initialize
// notification), then calls InitProperties() for a new instance or ReadProperties(bag)
// for a saved one, opens the port with SetPortOpen(true) and calls the operations.
//
// Thread affinity: the host's thread only, one call at a time; operations block until
// the answer or the time-out. Results are 16-bit codes: 0 done, 1 refused argument,
// closed port, time-out or refused answer, anything else the PLC's end code.
// Run-time errors (Overflow 6, Subscript out of range 9, Invalid call 5, Type mismatch
// 13, file and port errors) are thrown as AutomationError with no result.
//
// The class owns the port, the control's state (control/) and the line's memory (link/);
// every member hands its work to control/ or operations/ in one line.

#include <cstdint>
#include <memory>
#include <string>

#include "control/configuration.h"
#include "control/device_family.h"
#include "control/device_image.h"
#include "control/extent.h"
#include "control/host.h"
#include "control/property_bag.h"
#include "control/variant.h"
#include "link/exchange.h"
#include "link/serial_port.h"
#include "operations/batch_read.h"
#include "operations/bit_write.h"
#include "operations/block_write.h"
#include "operations/operation_context.h"
#include "operations/remote.h"
#include "operations/word_write.h"

namespace kestova {

class Tarvane {
 public:
  // Initialize: every value held in the control is zero/False until InitProperties or
  // ReadProperties. The port is closed.
  Tarvane(Host& host, std::unique_ptr<SerialPort> port);
  ~Tarvane();
  Tarvane(const Tarvane&) = delete;
  Tarvane& operator=(const Tarvane&) = delete;

  // ---- lifecycle -------------------------------------------------------------------
  void InitProperties() { configuration_.InitProperties(); }               // no notification
  void ReadProperties(PropertyBag& bag) { configuration_.Load(bag); }      // twelve keys
  void WriteProperties(PropertyBag& bag) const { configuration_.Save(bag); }  // thirteen keys
  // The host sized the control; it ends at 880 x 850 twips whatever was asked.
  void Resize(std::int32_t width_twips, std::int32_t height_twips) { extent_.Resize(width_twips, height_twips); }
  std::int32_t ExtentWidth() const { return extent_.width(); }
  std::int32_t ExtentHeight() const { return extent_.height(); }
  void ShowAboutBox() { host_.ShowAboutBox(VersionLine()); }  // freshly built each time
  static std::string VersionLine();                            // "Version 19.0.N"

  // ---- configuration properties (lets notify the host under the property's name) ------
  bool Enabled() const { return configuration_.Enabled(); }
  void SetEnabled(bool value) { configuration_.SetEnabled(value); }
  std::int16_t CommPort() const { return configuration_.CommPort(); }
  void SetCommPort(std::int16_t value) { configuration_.SetCommPort(value); }
  std::string Settings() const { return configuration_.Settings(); }
  void SetSettings(const std::string& value) { configuration_.SetSettings(value); }
  std::int32_t Handshaking() const { return configuration_.Handshaking(); }
  void SetHandshaking(std::int32_t value) { configuration_.SetHandshaking(value); }
  std::int16_t Timeout() const { return configuration_.Timeout(); }
  void SetTimeout(std::int16_t value) { configuration_.SetTimeout(value); }
  std::int16_t StationNo() const { return configuration_.StationNo(); }
  void SetStationNo(std::int16_t value) { configuration_.SetStationNo(value); }
  std::int16_t NetworkNo() const { return configuration_.NetworkNo(); }
  void SetNetworkNo(std::int16_t value) { configuration_.SetNetworkNo(value); }
  std::int16_t PCNumber() const { return configuration_.PCNumber(); }
  void SetPCNumber(std::int16_t value) { configuration_.SetPCNumber(value); }
  std::int32_t RqstDestMdIO() const { return configuration_.RqstDestMdIO(); }
  void SetRqstDestMdIO(std::int32_t value) { configuration_.SetRqstDestMdIO(value); }
  std::int16_t RqstDestMdSta() const { return configuration_.RqstDestMdSta(); }
  void SetRqstDestMdSta(std::int16_t value) { configuration_.SetRqstDestMdSta(value); }
  MELSECPLCType PLCType() const { return configuration_.PLCType(); }
  void SetPLCType(MELSECPLCType value) { configuration_.SetPLCType(value); }
  bool SumCheck() const { return configuration_.SumCheck(); }
  void SetSumCheck(bool value) { configuration_.SetSumCheck(value); }
  bool PortOpen() const { return configuration_.PortOpen(); }
  void SetPortOpen(bool value) { configuration_.SetPortOpen(value); }

  // ---- device image getters (index is 32-bit in C++; the COM face passes 16 bits) -----
  bool PLCX(std::int32_t index) const { return image_.Bit(DeviceFamily::X, index); }
  bool PLCY(std::int32_t index) const { return image_.Bit(DeviceFamily::Y, index); }
  bool PLCM(std::int32_t index) const { return image_.Bit(DeviceFamily::M, index); }
  bool PLCB(std::int32_t index) const { return image_.Bit(DeviceFamily::B, index); }
  std::int16_t PLCD(std::int32_t index) const { return image_.Word(DeviceFamily::D, index); }
  std::int16_t PLCW(std::int32_t index) const { return image_.Word(DeviceFamily::W, index); }
  std::int16_t PLCZR(std::int32_t index) const { return image_.Word(DeviceFamily::ZR, index); }
  bool PLCSM(std::int32_t index) const { return image_.Bit(DeviceFamily::SM, index); }
  std::int16_t PLCSD(std::int32_t index) const { return image_.Word(DeviceFamily::SD, index); }
  bool PLCSB(std::int32_t index) const { return image_.Bit(DeviceFamily::SB, index); }
  std::int16_t PLCSW(std::int32_t index) const { return image_.Word(DeviceFamily::SW, index); }
  bool PLCL(std::int32_t index) const { return image_.Bit(DeviceFamily::L, index); }
  bool PLCF(std::int32_t index) const { return image_.Bit(DeviceFamily::F, index); }
  bool PLCS(std::int32_t index) const { return image_.Bit(DeviceFamily::S, index); }

  // ---- batch read (operations/batch_read.h) ------------------------------------------
  std::int16_t ReadX(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::X, start, points); }
  std::int16_t ReadY(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::Y, start, points); }
  // ReadM alone hands its result back inside a Variant (an Integer).
  Variant ReadM(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::M, start, points); }
  std::int16_t ReadB(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::B, start, points); }
  std::int16_t ReadSB(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::SB, start, points); }
  std::int16_t ReadSM(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::SM, start, points); }
  std::int16_t ReadL(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::L, start, points); }
  std::int16_t ReadF(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::F, start, points); }
  std::int16_t ReadS(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::S, start, points); }
  std::int16_t ReadD(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::D, start, points); }
  std::int16_t ReadSD(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::SD, start, points); }
  std::int16_t ReadW(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::W, start, points); }
  std::int16_t ReadSW(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::SW, start, points); }
  std::int16_t ReadZR(std::int32_t start, std::int16_t points) { return Read(DeviceFamily::ZR, start, points); }

  // ---- single word write (operations/word_write.h) -----------------------------------
  std::int16_t WriteD(std::int32_t address, std::int16_t value) { return WriteWord(DeviceFamily::D, address, value); }
  std::int16_t WriteW(std::int32_t address, std::int16_t value) { return WriteWord(DeviceFamily::W, address, value); }
  std::int16_t WriteZR(std::int32_t address, std::int16_t value) { return WriteWord(DeviceFamily::ZR, address, value); }

  // ---- bit set and reset (operations/bit_write.h) ------------------------------------
  std::int16_t SetM(std::int32_t address) { return SwitchBit(DeviceFamily::M, address, true); }
  std::int16_t SetY(std::int32_t address) { return SwitchBit(DeviceFamily::Y, address, true); }
  std::int16_t SetB(std::int32_t address) { return SwitchBit(DeviceFamily::B, address, true); }
  std::int16_t SetL(std::int32_t address) { return SwitchBit(DeviceFamily::L, address, true); }
  std::int16_t SetF(std::int32_t address) { return SwitchBit(DeviceFamily::F, address, true); }
  std::int16_t SetS(std::int32_t address) { return SwitchBit(DeviceFamily::S, address, true); }
  std::int16_t ResetY(std::int32_t address) { return SwitchBit(DeviceFamily::Y, address, false); }
  std::int16_t ResetM(std::int32_t address) { return SwitchBit(DeviceFamily::M, address, false); }
  std::int16_t ResetB(std::int32_t address) { return SwitchBit(DeviceFamily::B, address, false); }
  std::int16_t ResetL(std::int32_t address) { return SwitchBit(DeviceFamily::L, address, false); }
  std::int16_t ResetF(std::int32_t address) { return SwitchBit(DeviceFamily::F, address, false); }
  std::int16_t ResetS(std::int32_t address) { return SwitchBit(DeviceFamily::S, address, false); }

  // ---- block write (operations/block_write.h) ----------------------------------------
  std::int16_t WriteBlock(const std::string& device, std::int16_t points, const IntegerArray& data) {
    return operations::WriteBlock(context_, device, points, data);
  }

  // ---- remote RUN / STOP / RESET (operations/remote.h) -------------------------------
  std::int16_t RemoteRun(std::int16_t mode = 1, std::int16_t clear_mode = 1) {
    return operations::RemoteRun(context_, mode, clear_mode);
  }
  std::int16_t RemoteStop(std::int16_t mode = 1) { return operations::RemoteStop(context_, mode); }
  std::int16_t RemoteReset(std::int16_t mode = 1) { return operations::RemoteReset(context_, mode); }

  // ---- the same operations chosen by family, for hosts that speak of devices ---------
  // Read runs exactly what ReadX ... ReadZR run. Image returns what the family's getter
  // returns, bits as 1 or 0. WriteWord takes D, W, ZR and SwitchBit M, Y, B, L, F, S;
  // any other family raises Invalid procedure call (5).
  std::int16_t Read(DeviceFamily family, std::int32_t start, std::int16_t points) {
    return operations::BatchRead(context_, family, start, points);
  }
  int Image(DeviceFamily family, std::int32_t index) const { return image_.Value(family, index); }
  std::int16_t WriteWord(DeviceFamily family, std::int32_t address, std::int16_t value) {
    return operations::WriteWord(context_, family, address, value);
  }
  std::int16_t SwitchBit(DeviceFamily family, std::int32_t address, bool on) {
    return operations::SwitchBit(context_, family, address, on);
  }

 private:
  Host& host_;
  std::unique_ptr<SerialPort> port_;
  Configuration configuration_;
  DeviceImage image_;
  Extent extent_;
  // What the link remembers of the line between this control's exchanges.
  LineState line_;
  operations::OperationContext context_;
};

}  // namespace kestova
