// Character-set conversions on one core, texts per second:
//   BM_Utf8ToPackedGsmHex     -- 160-character text to septets, packed as hexadecimal
//   BM_LossTest               -- loss test of a 160-character GSM text (ASCII)
//   BM_LossTestAccented       -- loss test of a 160-character text with accents and a euro
//   BM_GsmHexToUtf8           -- 140 packed octets (160 septets) back to UTF-8
//   BM_ShiftTableHindi        -- 70-character Hindi text through UTF8ToShiftTableString
#include <benchmark/benchmark.h>

#include <string>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "encoding/shift_tables.h"

namespace {

using namespace vek::encoding;

std::string text160() {
  std::string t =
      "Your appointment is confirmed for Tuesday at 10:30. Reply YES to keep it, "
      "NO to cancel. Questions? Call us on 0123 456 789 anytime, 24/7 service!!";
  t.resize(160, '.');
  return t;
}

std::string accented160() {
  std::string t;
  while (t.size() < 200) t += "Caf\xC3\xA9 cr\xC3\xA8me \xE2\x82\xAC 5 \xC3\xBC\xC3\xB1 ";
  return t;
}

void BM_Utf8ToPackedGsmHex(benchmark::State& state) {
  const std::string text = text160();
  for (auto _ : state) {
    std::string hex = PackGSMSeptetsToHex(UTF8ToGSMString(text), 0);
    benchmark::DoNotOptimize(hex);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Utf8ToPackedGsmHex);

void BM_LossTest(benchmark::State& state) {
  const std::string text = text160();
  for (auto _ : state) benchmark::DoNotOptimize(UTF8StringRequiresUnicodeEncoding(text));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LossTest);

void BM_LossTestAccented(benchmark::State& state) {
  const std::string text = accented160();
  for (auto _ : state) benchmark::DoNotOptimize(UTF8StringRequiresUnicodeEncoding(text));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LossTestAccented);

void BM_GsmHexToUtf8(benchmark::State& state) {
  const std::string hex = PackGSMSeptetsToHex(UTF8ToGSMString(text160()), 0);
  for (auto _ : state) {
    std::string text = GSMToUTF8String(UnpackHexToGSMSeptets(hex, 0));
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GsmHexToUtf8);

void BM_ShiftTableHindi(benchmark::State& state) {
  std::string text;
  while (text.size() < 200)
    text += "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 ";
  std::string septets;
  for (auto _ : state) benchmark::DoNotOptimize(UTF8ToShiftTableString(6, text, &septets));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShiftTableHindi);

}  // namespace

BENCHMARK_MAIN();
