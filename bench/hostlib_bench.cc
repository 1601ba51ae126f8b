// Host library benchmarks.
//   BM_IniLookupCached  -- value lookups from the cached parse of a 200-key file
//   BM_IniParse         -- parsing the same 200-key file from memory
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "hostlib/ini_file.h"
#include "platform/files.h"

namespace {

std::string twoHundredKeys() {
  std::string text = "[SMSGW]\r\n";
  for (int i = 0; i < 150; ++i)
    text += "Key" + std::to_string(i) + "=Value number " + std::to_string(i) + "\r\n";
  text += "[SMPP - Link]\r\n";
  for (int i = 0; i < 50; ++i)
    text += "LinkKey" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
  return text;
}

void BM_IniLookupCached(benchmark::State& state) {
  char dir[] = "/tmp/veksms-bench-XXXXXX";
  if (!::mkdtemp(dir)) return;
  std::string path = std::string(dir) + "/SMSGW.INI";
  (void)vek::platform::writeFileAtomic(path, twoHundredKeys());
  vek::hostlib::IniStore store(path);
  const char* keys[] = {"Key7", "key149", "KEY75", "Missing"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.get("smsgw", keys[i++ & 3], "default"));
  }
  state.SetItemsProcessed(state.iterations());
  ::unlink(path.c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_IniLookupCached)->Threads(1)->Threads(2);

void BM_IniParse(benchmark::State& state) {
  std::string text = twoHundredKeys();
  for (auto _ : state) benchmark::DoNotOptimize(vek::hostlib::IniFile::parse(text));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IniParse);

}  // namespace

BENCHMARK_MAIN();
