#include "modem/usb_power.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/process.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

namespace fs = std::filesystem;

std::string readSmallFile(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  return std::string(platform::trim(s));
}

bool isHex4(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

platform::Result<std::string> usbDeviceId(const std::string& device_path,
                                          const std::string& sys_root) {
  std::error_code ec;
  const fs::path dev = fs::canonical(device_path, ec);
  if (ec) return platform::Status::error("No device " + device_path, ec.value());
  const fs::path tty = fs::path(sys_root) / "class" / "tty" / dev.filename() / "device";
  fs::path dir = fs::canonical(tty, ec);
  if (ec) return platform::Status::error("No sysfs entry for " + dev.string(), ec.value());
  // Walk up (bounded) to the USB device that carries the ids.
  for (int depth = 0; depth < 8 && !dir.empty() && dir != dir.root_path(); ++depth) {
    const std::string vendor = platform::toLower(readSmallFile(dir / "idVendor"));
    const std::string product = platform::toLower(readSmallFile(dir / "idProduct"));
    if (isHex4(vendor) && isHex4(product)) return "usb\\vid_" + vendor + "&pid_" + product;
    dir = dir.parent_path();
  }
  return platform::Status::error("No USB device behind " + dev.string());
}

std::string usbControlProgram() {
  const std::string path =
      hostlib::GetRealProgramDirectory() + (sizeof(void*) == 8 ? "USBCTL64" : "USBCTL32");
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

platform::Status usbModemEnable(const std::string& device_id, bool enable) {
  foundation::DebugLog(enable ? "USBModemEnable" : "USBModemDisable", device_id);
  const std::string program = usbControlProgram();
  if (program.empty()) return platform::Status::error("USB control program not found");
  platform::ProcessOptions o;
  o.argv = {program, enable ? "ENABLE" : "DISABLE", device_id};
  o.time_limit = std::chrono::milliseconds(60000);
  o.cancel = &platform::shutdownFlag();
  const platform::ProcessResult r = platform::runProcess(o);
  if (!r.started) return r.error;
  if (r.exitedWith(0) || r.exitedWith(1)) return platform::Status::success();
  return platform::Status::error(platform::format("USB control program ended with %d%s",
                                                  r.exit_code, r.timed_out ? " (time limit)" : ""));
}

platform::Status reEnableUsbModem(std::string_view link_name, const std::string& device_id,
                                  double settle_seconds) {
  foundation::DebugLog(link_name, "Re-enabling modem:  " + std::string(link_name) + " ...");
  const auto settle = std::chrono::milliseconds(static_cast<int64_t>(settle_seconds * 1000));
  if (auto s = usbModemEnable(device_id, false); !s.ok()) return s;
  if (!platform::sleepFor(settle)) return platform::Status::error("stopped");
  if (auto s = usbModemEnable(device_id, true); !s.ok()) return s;
  platform::sleepFor(settle);
  return platform::Status::success();
}

}  // namespace vek::modem
