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

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "control/device_family.h"
#include "control/device_image.h"
#include "control/host.h"
#include "control/property_bag.h"
#include "control/variant.h"
#include "link/exchange.h"
#include "link/serial_port.h"

namespace kestova {


enum MELSECPLCType : std::int32_t {
  Q_Fundmental = 0,
  Q_HighPerformance = 1,
};

// WriteBlock's data: the shape of a one-dimensional safe array of Integer. Element k of
// `elements` has index lower_bound + k. An array that was never dimensioned or has more
// than one dimension raises Subscript out of range when its bounds are asked.
struct IntegerArray {
  std::int32_t lower_bound = 0;
  std::span<const std::int16_t> elements;
  int dimensions = 1;

  static IntegerArray ZeroBased(std::span<const std::int16_t> values) { return {0, values, 1}; }
};

// The fixed extent in twips that every resize ends at.
inline constexpr std::int32_t kExtentWidthTwips = 880;
inline constexpr std::int32_t kExtentHeightTwips = 850;

class Tarvane {
 public:
  // Initialize: every value held in the control is zero/False until InitProperties or
  // ReadProperties. The port is closed.
  Tarvane(Host& host, std::unique_ptr<SerialPort> port);
  ~Tarvane();
  Tarvane(const Tarvane&) = delete;
  Tarvane& operator=(const Tarvane&) = delete;

  // ---- lifecycle -------------------------------------------------------------------
  void InitProperties();                         // defaults, no change notification
  void ReadProperties(PropertyBag& bag);         // twelve keys in order, no notification
  void WriteProperties(PropertyBag& bag) const;  // thirteen keys in order
  // The host sized the control; it ends at 880 x 850 twips whatever was asked.
  void Resize(std::int32_t width_twips, std::int32_t height_twips);
  std::int32_t ExtentWidth() const { return extent_width_; }
  std::int32_t ExtentHeight() const { return extent_height_; }
  void ShowAboutBox();
  static std::string VersionLine();  // "Version 19.0.N"

  // ---- configuration properties (lets notify the host under the property's name) ------
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  std::int16_t CommPort() const;
  void SetCommPort(std::int16_t value);
  std::string Settings() const;
  void SetSettings(const std::string& value);
  std::int32_t Handshaking() const;
  void SetHandshaking(std::int32_t value);
  std::int16_t Timeout() const { return timeout_; }
  void SetTimeout(std::int16_t value);
  std::int16_t StationNo() const { return station_no_; }
  void SetStationNo(std::int16_t value);
  std::int16_t NetworkNo() const { return network_no_; }
  void SetNetworkNo(std::int16_t value);
  std::int16_t PCNumber() const { return pc_number_; }
  void SetPCNumber(std::int16_t value);
  std::int32_t RqstDestMdIO() const { return rqst_dest_md_io_; }
  void SetRqstDestMdIO(std::int32_t value);
  std::int16_t RqstDestMdSta() const { return rqst_dest_md_sta_; }
  void SetRqstDestMdSta(std::int16_t value);
  MELSECPLCType PLCType() const { return plc_type_; }
  void SetPLCType(MELSECPLCType value);
  bool SumCheck() const { return sum_check_; }
  void SetSumCheck(bool value);
  bool PortOpen() const;
  void SetPortOpen(bool value);

  // ---- device image getters (index is 32-bit in C++; the COM face passes 16 bits) -----
  bool PLCX(std::int32_t index) const;
  bool PLCY(std::int32_t index) const;
  bool PLCM(std::int32_t index) const;
  bool PLCB(std::int32_t index) const;
  std::int16_t PLCD(std::int32_t index) const;
  std::int16_t PLCW(std::int32_t index) const;
  std::int16_t PLCZR(std::int32_t index) const;
  bool PLCSM(std::int32_t index) const;
  std::int16_t PLCSD(std::int32_t index) const;
  bool PLCSB(std::int32_t index) const;
  std::int16_t PLCSW(std::int32_t index) const;
  bool PLCL(std::int32_t index) const;
  bool PLCF(std::int32_t index) const;
  bool PLCS(std::int32_t index) const;

  // ---- batch read (operations/batch_read.cpp) ----------------------------------------
  std::int16_t ReadX(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadY(std::int32_t start_address, std::int16_t read_points);
  Variant ReadM(std::int32_t start_address, std::int16_t read_points);  // holds an Integer
  std::int16_t ReadB(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadSB(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadSM(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadL(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadF(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadS(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadD(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadSD(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadW(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadSW(std::int32_t start_address, std::int16_t read_points);
  std::int16_t ReadZR(std::int32_t start_address, std::int16_t read_points);

  // ---- single word write (operations/word_write.cpp) ---------------------------------
  std::int16_t WriteD(std::int32_t address, std::int16_t value);
  std::int16_t WriteW(std::int32_t address, std::int16_t value);
  std::int16_t WriteZR(std::int32_t address, std::int16_t value);

  // ---- bit set and reset (operations/bit_write.cpp) ----------------------------------
  std::int16_t SetM(std::int32_t address);
  std::int16_t SetY(std::int32_t address);
  std::int16_t SetB(std::int32_t address);
  std::int16_t SetL(std::int32_t address);
  std::int16_t SetF(std::int32_t address);
  std::int16_t SetS(std::int32_t address);
  std::int16_t ResetY(std::int32_t address);
  std::int16_t ResetM(std::int32_t address);
  std::int16_t ResetB(std::int32_t address);
  std::int16_t ResetL(std::int32_t address);
  std::int16_t ResetF(std::int32_t address);
  std::int16_t ResetS(std::int32_t address);

  // ---- block write (operations/block_write.cpp) --------------------------------------
  std::int16_t WriteBlock(const std::string& device, std::int16_t points,
                          const IntegerArray& data);

  // ---- the same operations chosen by family, for hosts that speak of devices ---------
  // Read runs exactly what ReadX ... ReadZR run. Image returns what the family's getter
  // returns, bits as 1 or 0. WriteWord takes D, W, ZR and SwitchBit M, Y, B, L, F, S;
  // any other family raises Invalid procedure call (5).
  std::int16_t Read(DeviceFamily family, std::int32_t start_address, std::int16_t read_points);
  int Image(DeviceFamily family, std::int32_t index) const;
  std::int16_t WriteWord(DeviceFamily family, std::int32_t address, std::int16_t value);
  std::int16_t SwitchBit(DeviceFamily family, std::int32_t address, bool on);

  // ---- remote RUN / STOP / RESET (operations/remote.cpp) -----------------------------
  std::int16_t RemoteRun(std::int16_t mode = 1, std::int16_t clear_mode = 1);
  std::int16_t RemoteStop(std::int16_t mode = 1);
  std::int16_t RemoteReset(std::int16_t mode = 1);

 private:
  // Runs one exchange with the current configuration (operations/exchange.cpp).
  std::int16_t Exchange(const ExchangePlan& plan);

  std::int16_t ReadWord(DeviceFamily family, std::int32_t start_address,
                        std::int16_t read_points);
  Variant RemoteOperation(std::int16_t command, std::int16_t mode);

  void Raise(const std::string& text);
  void Changed(std::string_view property_name);

  Host& host_;
  std::unique_ptr<SerialPort> port_;
  DeviceImage image_;

  bool enabled_ = false;
  std::int16_t timeout_ = 0;
  std::int16_t station_no_ = 0;
  std::int16_t network_no_ = 0;
  std::int16_t pc_number_ = 0;
  std::int32_t rqst_dest_md_io_ = 0;
  std::int16_t rqst_dest_md_sta_ = 0;
  MELSECPLCType plc_type_ = Q_Fundmental;
  bool sum_check_ = false;

  std::int32_t extent_width_ = kExtentWidthTwips;
  std::int32_t extent_height_ = kExtentHeightTwips;

  // What the link remembers of the line between this control's exchanges.
  LineState line_;
};

}  // namespace kestova
