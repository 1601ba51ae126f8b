// USB power cycle of a modem: its USB device is disabled and enabled again
// by the USB control program, which makes the device (and its serial
// ports) appear anew, as unplugging it would.
//
// The device id names the USB device in the form "usb\vid_VVVV&pid_PPPP"
// (vendor and product from sysfs, lower case), found from the modem's
// serial device: /sys/class/tty/<name>/device, then up the device tree to
// the first directory with idVendor and idProduct.
//
// The program is "USBCTL64" (64-bit build) or "USBCTL32" in the program
// directory; it is run with the word "ENABLE" or "DISABLE" and the id as
// its two arguments (no shell), for at most 60 seconds. It succeeds when
// it exits with 0 or 1. The id is written to the debug log under
// "USBModemEnable" or "USBModemDisable".
//
// Thread-safe (no shared state).
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::modem {

// The id of the USB device behind `device_path` (a /dev path or by-id
// link); `sys_root` is "/sys" except in tests.
platform::Result<std::string> usbDeviceId(const std::string& device_path,
                                          const std::string& sys_root = "/sys");

// Path of the USB control program ("" when it is not there).
std::string usbControlProgram();

// Runs the control program once.
platform::Status usbModemEnable(const std::string& device_id, bool enable);

// The re-enable step of a session that starts after a modem failure:
// "Re-enabling modem:  %s ..." is logged, the device is disabled, `settle`
// seconds pass, it is enabled, `settle` seconds pass again (15 in the
// gateway).
platform::Status reEnableUsbModem(std::string_view link_name, const std::string& device_id,
                                  double settle_seconds);

}  // namespace vek::modem
