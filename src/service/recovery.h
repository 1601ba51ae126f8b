// Recovery actions the link sender takes against stuck modems: rebooting
// the machine, and power-cycling a USB modem through the USB control
// program ("USBCTL64" or "USBCTL32" in the program directory).
#pragma once

#include <string>

namespace vek::service {

// Asks the system to reboot (shutdown -r in one minute, with a message).
// Non-zero when the reboot was initiated.
int RestartLocalServer();

// Finds the USB device of the serial modem named `friendly_name` (a name in
// /dev/serial/by-id, compared ignoring case) and runs the control program
// with ENABLE or DISABLE and the device id. True on exit status 0 or 1.
bool USBModemPower(const std::string& friendly_name, bool enable);

// The device id of a /dev/serial/by-id name: "USB\VID_vvvv&PID_pppp" with
// "&MI_nn" for an interface of a composite device, cut after the second
// ampersand replaced by '*'. "" when not found.
std::string usbDeviceId(const std::string& friendly_name);

}  // namespace vek::service
