// Splitting long messages into concatenated segments on one core, messages per second:
//   BM_SplitSeptets1000   -- 1,000 GSM septets into 7 segments with 8-bit-reference headers
//   BM_SplitSeptets1000R16 -- the same with 16-bit-reference headers
//   BM_SplitText1000      -- a 1,000-character UTF-8 text: folding, loss test, conversion and split
//   BM_SplitUcs2_500      -- 500 UCS-2 characters into 8 segments
#include <benchmark/benchmark.h>

#include <string>

#include "encoding/gsm_alphabet.h"
#include "encoding/long_message.h"
#include "encoding/utf8.h"

namespace {

using namespace vek::encoding;

std::string text1000() {
  std::string t;
  while (t.size() < 1000) {
    t += "Your order 4711 has shipped and arrives on Tuesday between 10:00 and 12:00. "
         "Track it online or reply STOP to opt out. ";
  }
  t.resize(1000);
  return t;
}

void splitSeptetsBench(benchmark::State& state, bool ref16) {
  const std::string septets = UTF8ToGSMString(text1000());
  SplitOptions options;
  options.ConcatRef16Bit = ref16;
  uint16_t ref = 0;
  for (auto _ : state) {
    auto split = splitSeptets(septets, {}, ++ref, options);
    benchmark::DoNotOptimize(split);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SplitSeptets1000(benchmark::State& state) {
  splitSeptetsBench(state, false);
}
BENCHMARK(BM_SplitSeptets1000);

void BM_SplitSeptets1000R16(benchmark::State& state) {
  splitSeptetsBench(state, true);
}
BENCHMARK(BM_SplitSeptets1000R16);

void BM_SplitText1000(benchmark::State& state) {
  const std::string text = text1000();
  const SplitOptions options;
  uint16_t ref = 0;
  for (auto _ : state) {
    SMSText encoded = encodeSMSText(text);
    auto split = splitText(encoded, ++ref, options);
    benchmark::DoNotOptimize(split);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitText1000);

void BM_SplitUcs2_500(benchmark::State& state) {
  std::string utf8;
  for (int i = 0; i < 500; ++i) utf8 += "\xD0\x96";
  const std::u16string units = UTF8ToUCS2(utf8);
  const SplitOptions options;
  uint16_t ref = 0;
  for (auto _ : state) {
    auto split = splitUcs2(units, {}, ++ref, options);
    benchmark::DoNotOptimize(split);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitUcs2_500);

}  // namespace

BENCHMARK_MAIN();
