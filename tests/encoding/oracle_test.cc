// Black-box checks against independent implementations: Perl's Encode
// "gsm0338" for the character mapping and node-pdu for septet packing
// inside a real SMS-SUBMIT. Each test skips when its peer is missing.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"
#include "encoding/septet_packing.h"
#include "encoding/utf8.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace vek::encoding {
namespace {

std::string runOracle(std::vector<std::string> argv) {
  platform::ProcessOptions options;
  options.argv = std::move(argv);
  options.merge_stderr = false;
  options.time_limit = std::chrono::milliseconds(20000);
  platform::ProcessResult r = platform::runProcess(options);
  EXPECT_TRUE(r.exitedWith(0)) << r.error.message() << r.error_output;
  return r.output;
}

// Perl decodes every septet (and the nine extension pairs) to code points,
// printed as "%04X" each.
TEST(OracleTest, DefaultAlphabetAgreesWithPerlEncode) {
  if (!platform::findProgram("perl")) GTEST_SKIP() << "perl not installed";
  const std::string script =
      "use Encode; my $b = join('', map { chr } grep { $_ != 0x1B } 0..127);"
      "$b .= \"\\x1B\\x14\\x1B\\x28\\x1B\\x29\\x1B\\x2F\\x1B\\x3C\\x1B\\x3D\\x1B\\x3E\\x1B\\x40"
      "\\x1B\\x65\";"
      "print join('', map { sprintf '%04X', ord } split //, decode('gsm0338', $b));";
  const std::string out = runOracle({"perl", "-e", script});
  if (out.empty()) GTEST_SKIP() << "Encode gsm0338 not available";
  std::string septets;
  for (int c = 0; c < 128; ++c) {
    if (c != 0x1B) septets.push_back(static_cast<char>(c));
  }
  for (uint8_t e : {0x14, 0x28, 0x29, 0x2F, 0x3C, 0x3D, 0x3E, 0x40, 0x65}) {
    septets.push_back('\x1B');
    septets.push_back(static_cast<char>(e));
  }
  EXPECT_EQ(UTF8ToUCS2Hex(GSMToUTF8String(septets)), out);
  // And the way back: every character Perl names encodes to its septets.
  EXPECT_EQ(UTF8ToGSMString(UCS2HexToUTF8(out)), septets);
}

// node-pdu decodes SMS-SUBMIT PDUs whose user data we packed, with and
// without a concatenation header (fill offset 6).
TEST(OracleTest, PackingAgreesWithNodePdu) {
  VEK_REQUIRE_ORACLES();
  if (!platform::findProgram("node")) GTEST_SKIP() << "node not installed";
  const std::string pdu_js = testing::oraclesDir() + "/node/pdu.js";
  std::mt19937 rng(11);
  const std::string alphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,!?@$";
  for (int round = 0; round < 6; ++round) {
    std::string text;
    const size_t len = 1 + rng() % 150;
    for (size_t i = 0; i < len; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
    const bool with_header = round % 2 == 1;
    const std::string udh = with_header ? "050003420201" : "";
    const std::string septets = UTF8ToGSMString(text);
    const size_t header_septets = with_header ? 7 : 0;  // 6 octets and one fill bit
    char head[64];
    snprintf(head, sizeof head, "00%02X000681214365%02X00%02X", with_header ? 0x41 : 0x01, 0,
             static_cast<int>(septets.size() + header_septets));
    // Message reference, address, PID 00, DCS 00, then UDL.
    std::string pdu = std::string("00") + (with_header ? "41" : "01") + "00" + "06812143650000";
    snprintf(head, sizeof head, "%02X", static_cast<int>(septets.size() + header_septets));
    pdu += head + udh + PackGSMSeptetsToHex(septets, udh.size() / 2);
    SCOPED_TRACE(pdu);
    const std::string json = runOracle({"node", pdu_js, "decode", pdu});
    EXPECT_NE(json.find("\"text\": \"" + text + "\""), std::string::npos) << json;
  }
}

}  // namespace
}  // namespace vek::encoding
