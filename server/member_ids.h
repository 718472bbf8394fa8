#pragma once
// The DISPIDs of _Tarvane: the binary contract with compiled clients, identical to the
// type library's. Properties are 0x68030000 + offset, methods 0x60030000 + offset.

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string_view>

namespace kestova::server {

constexpr DISPID PropertyId(int offset) { return static_cast<DISPID>(0x68030000 + offset); }
constexpr DISPID MethodId(int offset) { return static_cast<DISPID>(0x60030000 + offset); }

namespace dispid {
inline constexpr DISPID kEnabled = PropertyId(0x1A);
inline constexpr DISPID kCommPort = PropertyId(0x19);
inline constexpr DISPID kSettings = PropertyId(0x18);
inline constexpr DISPID kHandshaking = PropertyId(0x17);
inline constexpr DISPID kTimeout = PropertyId(0x16);
inline constexpr DISPID kStationNo = PropertyId(0x15);
inline constexpr DISPID kNetworkNo = PropertyId(0x14);
inline constexpr DISPID kPCNumber = PropertyId(0x13);
inline constexpr DISPID kRqstDestMdIO = PropertyId(0x12);
inline constexpr DISPID kRqstDestMdSta = PropertyId(0x11);
inline constexpr DISPID kPLCType = PropertyId(0x09);
inline constexpr DISPID kSumCheck = PropertyId(0x08);
inline constexpr DISPID kPortOpen = PropertyId(0x07);
inline constexpr DISPID kReadM = MethodId(0x37);
inline constexpr DISPID kShowAboutBox = -552;
inline constexpr DISPID kRemoteStop = MethodId(0x43);
inline constexpr DISPID kRemoteReset = MethodId(0x44);
inline constexpr DISPID kRemoteRun = MethodId(0x46);
inline constexpr DISPID kWriteBlock = MethodId(0x47);
inline constexpr DISPID kMelsecOut = 1;
}  // namespace dispid

// The DISPID of a configuration property by the name the core notifies it under.
std::optional<DISPID> PropertyIdByName(std::string_view name);

}  // namespace kestova::server
