#pragma once
// The serial port of the platform the library was built for: termios on POSIX, the
// communications API on Windows. Both ports start closed, on port 1, "9600,n,8,1",
// no handshaking.

#include <memory>
#include <string>

#include "link/serial_port.h"

namespace kestova {

// Port number n opens the platform's n-th serial device (/dev/ttyS<n-1>, COM<n>).
std::unique_ptr<SerialPort> MakePlatformSerialPort();

// Opens device_path whatever the port number (USB adapters, pseudo-terminals); the port
// number is still stored and reported.
std::unique_ptr<SerialPort> MakePlatformSerialPort(const std::string& device_path);

}  // namespace kestova
