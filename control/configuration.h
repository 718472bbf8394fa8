#pragma once
// The control's configuration properties: nine values held here and four that pass
// through to the serial port object (CommPort, Settings, Handshaking, PortOpen). Every let
// stores the value unchecked and then tells the host under the property's name; a let the
// port refuses raises the port's error and tells nothing. Load and Save are the host's
// property bag round trip: thirteen keys saved, the first twelve loaded, silently.

#include <cstdint>
#include <string>
#include <string_view>

#include "control/host.h"
#include "control/property_bag.h"
#include "link/serial_port.h"

namespace kestova {

enum MELSECPLCType : std::int32_t {
  Q_Fundmental = 0,
  Q_HighPerformance = 1,
};

class Configuration {
 public:
  // Every value held here starts at zero / False until InitProperties or Load.
  Configuration(Host& host, SerialPort& port) : host_(host), port_(port) {}

  void InitProperties();                  // the defaults, no change notification
  void Load(PropertyBag& bag);            // twelve keys in order, no notification
  void Save(PropertyBag& bag) const;      // thirteen keys in order

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  std::int16_t CommPort() const { return port_.CommPort(); }
  void SetCommPort(std::int16_t value);
  std::string Settings() const { return port_.Settings(); }
  void SetSettings(const std::string& value);
  std::int32_t Handshaking() const { return port_.Handshaking(); }
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
  bool PortOpen() const { return port_.PortOpen(); }
  void SetPortOpen(bool value);

 private:
  void Changed(std::string_view property_name) { host_.PropertyChanged(property_name); }

  Host& host_;
  SerialPort& port_;
  bool enabled_ = false;
  std::int16_t timeout_ = 0;
  std::int16_t station_no_ = 0;
  std::int16_t network_no_ = 0;
  std::int16_t pc_number_ = 0;
  std::int32_t rqst_dest_md_io_ = 0;
  std::int16_t rqst_dest_md_sta_ = 0;
  MELSECPLCType plc_type_ = Q_Fundmental;
  bool sum_check_ = false;
};

}  // namespace kestova
