#include "service/recovery.h"

#include <limits.h>
#include <stdlib.h>

#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::service {
namespace {

using foundation::DebugLog;

std::string firstLine(const std::string& path) {
  auto text = platform::readFile(path, 4096);
  if (!text.ok()) return std::string();
  return std::string(platform::trim(text->substr(0, text->find('\n'))));
}

}  // namespace

int RestartLocalServer() {
  DebugLog("RestartLocalServer", "Entering RestartLocalServer");
  auto program = platform::findProgram("shutdown");
  if (!program) program = platform::findProgram("/sbin/shutdown");
  if (!program) {
    DebugLog("RestartLocalServer", "InitiateSystemShutdown failed.");
    return 0;
  }
  platform::ProcessOptions o;
  o.argv = {*program, "-r", "+1", "VekSMS is rebooting to recover from modem problems"};
  o.time_limit = std::chrono::milliseconds(30000);
  auto r = platform::runProcess(o);
  if (!r.exitedWith(0)) {
    DebugLog("RestartLocalServer", "InitiateSystemShutdown failed.");
    return 0;
  }
  return 1;
}

std::string usbDeviceId(const std::string& friendly_name) {
  const std::string by_id = "/dev/serial/by-id/";
  auto name = platform::findNameNoCase(by_id, friendly_name);
  if (!name) return std::string();
  char real[PATH_MAX];
  if (::realpath((by_id + *name).c_str(), real) == nullptr) return std::string();
  std::string tty = platform::baseName(real);
  // /sys/class/tty/<tty>/device is the USB interface; its parent the device.
  char iface[PATH_MAX];
  if (::realpath(("/sys/class/tty/" + tty + "/device").c_str(), iface) == nullptr)
    return std::string();
  std::string dir = iface;
  std::string interface_number;
  for (int up = 0; up < 4 && !dir.empty(); ++up) {
    if (interface_number.empty()) interface_number = firstLine(dir + "/bInterfaceNumber");
    std::string vendor = firstLine(dir + "/idVendor");
    std::string product = firstLine(dir + "/idProduct");
    if (!vendor.empty() && !product.empty()) {
      std::string id =
          "USB\\VID_" + platform::toUpper(vendor) + "&PID_" + platform::toUpper(product);
      if (!interface_number.empty()) id += "&MI_" + interface_number;
      size_t first = id.find('&');
      size_t second = first == std::string::npos ? first : id.find('&', first + 1);
      if (second != std::string::npos) id = id.substr(0, second) + "*";
      return id;
    }
    dir = platform::parentDirectory(dir);
    if (!dir.empty() && dir.back() == '/') dir.pop_back();
  }
  return std::string();
}

bool USBModemPower(const std::string& friendly_name, bool enable) {
  const char* tag = enable ? "USBModemEnable" : "USBModemDisable";
  std::string id = usbDeviceId(friendly_name);
  if (id.empty()) return false;
  std::string program_dir = hostlib::GetRealProgramDirectory();
  std::string program = program_dir + (sizeof(void*) == 8 ? "USBCTL64" : "USBCTL32");
  if (!platform::isRegularFile(program)) {
    auto found =
        platform::findNameNoCase(program_dir, sizeof(void*) == 8 ? "USBCTL64" : "USBCTL32");
    if (!found) return false;
    program = program_dir + *found;
  }
  DebugLog(tag, id);
  platform::ProcessOptions o;
  o.argv = {program, enable ? "ENABLE" : "DISABLE", id};
  o.time_limit = std::chrono::milliseconds(60000);
  o.cancel = &platform::shutdownFlag();
  auto r = platform::runProcess(o);
  return r.exitedWith(0) || r.exitedWith(1);
}

}  // namespace vek::service
