// Two-way command parsing, choice and variable replacement: pure functions
// fed the configurations and texts that go wrong in practice.
#include <gtest/gtest.h>

#include "inbound/command_variables.h"
#include "inbound/mail_spool.h"
#include "inbound/two_way.h"
#include "inbound/two_way_commands.h"

namespace vek::inbound {
namespace {

TEST(TwoWayCommandsTest, ValuesSplitIntoFieldsByTabsOrTheLastBlanks) {
  struct Case {
    const char* value;
    const char* keyword;
    const char* command;
    bool reply;
    std::vector<std::string> recipients;
  } cases[] = {
      {"HELP\thttp://svc/?q=@@SMS@@\tYes\t1234, 56*",
       "HELP",
       "http://svc/?q=@@SMS@@",
       true,
       {"1234", "56*"}},
      {"HELP http://svc/ Yes", "HELP", "http://svc/", true, {}},
      {"HELP http://svc/", "HELP", "http://svc/", false, {}},
      // One TAB: only the last blank becomes one.
      {"*\t/bin/echo hi Yes", "*", "/bin/echo hi", true, {}},
      // Two TABs keep a command line with blanks whole.
      {"*\t/bin/echo @@TEXT@@\tYes", "*", "/bin/echo @@TEXT@@", true, {}},
      // Without TABs a command line with blanks is split: its last word is
      // taken for the reply flag.
      {"ECHO /bin/echo @@TEXT@@", "ECHO", "/bin/echo", false, {}},
      {"X\tcmd\tNo\t*", "X", "cmd", false, {}},
  };
  for (const Case& c : cases) {
    TwoWayCommand t = parseCommandValue(c.value);
    EXPECT_EQ(t.keyword, c.keyword) << c.value;
    EXPECT_EQ(t.command, c.command) << c.value;
    EXPECT_EQ(t.reply, c.reply) << c.value;
    EXPECT_EQ(t.recipients, c.recipients) << c.value;
  }
  // Field widths are behaviour: an over-long command is cut at 2,048 bytes.
  const TwoWayCommand longer = parseCommandValue("K\t" + std::string(5000, 'x') + "\tYes");
  EXPECT_EQ(longer.command.size(), kMaxCommandText);
}

TEST(TwoWayCommandsTest, ChoiceByFilterScoreOrderAndBinaryMention) {
  const std::vector<TwoWayCommand> list = {
      parseCommandValue("HELP*\tgeneric\tYes"), parseCommandValue("HELP\trestricted\tYes\t1234"),
      parseCommandValue("A*\ta-star\tNo"),      parseCommandValue("ABC\tabc\tNo"),
      parseCommandValue("AB?\tab-any\tNo"),     parseCommandValue("BIN*\tbin @@Binary@@\tNo"),
      parseCommandValue("TXT*\ttext only\tNo"),
  };
  struct Case {
    const char* word;
    const char* destination;
    bool binary;
    const char* chosen;  // nullptr: none
  } cases[] = {
      {"help", "1234", false, "restricted"},  // the filtered command drops the generic one
      {"help", "9999", false, "generic"},
      {"helpme", "1234", false, "generic"},  // the restricted keyword does not match
      {"abc", "1", false, "abc"},            // exact word: 3 + 1 beats "A*" (2) and "AB?" (3)
      {"abd", "1", false, "ab-any"},         // 3 beats 2
      {"axe", "1", false, "a-star"},
      {"bin", "1", true, "bin @@Binary@@"},
      {"txt", "1", true, nullptr},  // 8-bit data only reaches commands that mention it
      {"txt", "1", false, "text only"},
      {"zzz", "1", false, nullptr},
  };
  for (const Case& c : cases) {
    const TwoWayCommand* got = chooseCommand(list, c.word, c.destination, c.binary);
    if (c.chosen == nullptr) {
      EXPECT_EQ(got, nullptr) << c.word;
    } else {
      ASSERT_NE(got, nullptr) << c.word;
      EXPECT_EQ(got->command, c.chosen) << c.word;
    }
  }
  // Equal scores: the earlier command wins.
  const std::vector<TwoWayCommand> tie = {parseCommandValue("A?\tfirst\tNo"),
                                          parseCommandValue("?B\tsecond\tNo")};
  EXPECT_EQ(chooseCommand(tie, "AB", "1", false)->command, "first");
}

TEST(TwoWayCommandsTest, FirstWordAndRest) {
  EXPECT_EQ(firstWord("help me now"), "help");
  EXPECT_EQ(afterFirstWord("help   me now"), "me now");
  EXPECT_EQ(firstWord("one\r\ntwo"), "one");
  EXPECT_EQ(afterFirstWord("single"), "");
  // 200 characters at most, never half a character.
  std::string word;
  for (int i = 0; i < 150; ++i) word += "\xC3\xA9";  // é
  EXPECT_EQ(firstWord(word).size(), 200u);
}

CommandValues sample() {
  CommandValues v;
  v.sender = "+447700900123";
  v.recipient = "1234";
  v.text = "hello big world";
  v.first_word = "hello";
  v.rest = "big world";
  v.dcs = 8;
  v.message_id = "0000A1B2.in";
  return v;
}

TEST(CommandVariablesTest, ReplacementIsOnceCaseBlindAndEncodedByKind) {
  CommandValues v = sample();
  struct Case {
    const char* pattern;
    ValueEncoding encoding;
    const char* expected;
  } cases[] = {
      {"q=@@SMS@@&from=@@sender@@", ValueEncoding::kUrl, "q=big%20world&from=%2B447700900123"},
      {"@@SMS@@", ValueEncoding::kPlain, "big world"},
      {"@@DCS@@/@@Binary@@/@@MESSAGEID@@", ValueEncoding::kPlain, "08/0/0000A1B2.in"},
      {"@@UNKNOWN@@ @@ @@@TEXT@@", ValueEncoding::kPlain, "@@UNKNOWN@@ @@ @hello big world"},
      {"@@TEXT", ValueEncoding::kPlain, "@@TEXT"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(replaceVariables(c.pattern, v, c.encoding), c.expected) << c.pattern;

  // A value holding a variable name goes in as it is, never expanded again.
  v.text = "@@TEXT@@ @@SENDER@@";
  EXPECT_EQ(replaceVariables("x@@TEXT@@y", v, ValueEncoding::kPlain), "x@@TEXT@@ @@SENDER@@y");
  // URL encoding keeps the safe set and escapes the rest, DEL included.
  EXPECT_EQ(urlEncodeValue("a b&c=d/e@f\x7F\xC3\xA9"), "a%20b%26c=d/e@f%7F%C3%A9");
}

TEST(CommandVariablesTest, HugeTemplatesAndValuesStayWithinTheLimit) {
  CommandValues v = sample();
  v.text = std::string(100000, 'x');
  std::string pattern;
  for (int i = 0; i < 10000; ++i) pattern += "@@TEXT@@";
  const std::string plain = replaceVariables(pattern, v, ValueEncoding::kPlain);
  EXPECT_EQ(plain.size(), kMaxReplacedCommand);
  // Escapes are never cut in half, characters never split.
  v.text = std::string(5000, ' ');
  const std::string url = replaceVariables("u=@@TEXT@@", v, ValueEncoding::kUrl);
  EXPECT_LE(url.size(), kMaxReplacedCommand);
  EXPECT_EQ(url.substr(url.size() - 3), "%20");
  v.text.clear();
  for (int i = 0; i < 5000; ++i) v.text += "\xE2\x82\xAC";  // €
  const std::string euros = replaceVariables("@@TEXT@@", v, ValueEncoding::kPlain);
  EXPECT_EQ(euros.size() % 3, 0u);
}

TEST(CommandVariablesTest, ProgramArgumentsAreSplitBeforeValuesGoIn) {
  CommandValues v = sample();
  v.text = "a; touch hacked \"q $(id) `id` 'x";
  v.rest = "line1\nline2\tend";
  EXPECT_EQ(programArguments("/bin/echo @@TEXT@@", v),
            (std::vector<std::string>{"/bin/echo", "a; touch hacked \"q $(id) `id` 'x"}));
  EXPECT_EQ(programArguments("prog \"two words\" '@@SMS@@' x@@SENDER@@y", v),
            (std::vector<std::string>{"prog", "two words", "line1 line2 end", "x+447700900123y"}));
  EXPECT_EQ(programArguments("prog @@SMS@@", CommandValues{}),
            (std::vector<std::string>{"prog", ""}));
  // The values travel in the environment as well.
  const auto env = commandEnvironment(v);
  EXPECT_NE(std::find(env.begin(), env.end(), "VEKSMS_SENDER=+447700900123"), env.end());
  EXPECT_NE(std::find(env.begin(), env.end(), "VEKSMS_SMS=line1 line2 end"), env.end());
}

TEST(MailSpoolTest, AddressesSubjectAndBodyWithoutInjectedHeaders) {
  const MailtoCommand m = parseMailto(
      "mailto:alice@example.com,bob@example.com?to=carol@example.com&cc=dan@example.com"
      "&subject=Hi%0D%0ABcc:%20evil@example.com&body=line1%0Aline2");
  EXPECT_EQ(m.to, (std::vector<std::string>{"alice@example.com", "bob@example.com",
                                            "carol@example.com"}));
  EXPECT_TRUE(hasMailRecipient(m));
  const std::string text = formatMailSpool(m, "+4477@x\r\nBcc: y", "sms.example.com", "ignored");
  EXPECT_EQ(text,
            "From: +4477@sms.example.com\r\n"
            "To: alice@example.com,\r\n bob@example.com,\r\n carol@example.com\r\n"
            "Cc: dan@example.com\r\n"
            "Subject: Hi  Bcc: evil@example.com\r\n"
            "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n"
            "line1\r\nline2\r\n");
  // Without subject and body: the sender's subject line and the text.
  const std::string plain =
      formatMailSpool(parseMailto("mailto:a@b"), "+44", "d", "the text\nsecond line");
  EXPECT_NE(plain.find("Subject: +44 - SMS Text Message\r\n"), std::string::npos);
  EXPECT_NE(plain.find("\r\n\r\nthe text\r\nsecond line\r\n"), std::string::npos);
  EXPECT_FALSE(hasMailRecipient(parseMailto("mailto:nobody")));
}

TEST(TwoWayRepliesTest, ContentTypesTrimmingAndReplyOptions) {
  std::string charset;
  EXPECT_TRUE(plainTextType("text/plain", &charset));
  EXPECT_TRUE(plainTextType("Text/Plain; charset=\"ISO-8859-1\"", &charset));
  EXPECT_EQ(charset, "ISO-8859-1");
  EXPECT_FALSE(plainTextType("text/html; charset=utf-8", &charset));
  EXPECT_FALSE(plainTextType("text/plainx", &charset));
  EXPECT_EQ(trimTrailingControls("Hi \r\n\t\x01"), "Hi");
  EXPECT_EQ(wellFormedUtf8(std::string("a\0b\xFF", 4)), "ab\xC3\xBF");
  EXPECT_EQ(replyOptions("SMPPOption_source_subaddress=A0; SMPPOption_network_code=7; "
                         "SMPPOption_dest_subaddress=B1",
                         "network_code, SMPPOption_missing"),
            "SMPPOption_dest_subaddress=A0; SMPPOption_source_subaddress=B1; "
            "SMPPOption_network_code=7");
  EXPECT_EQ(replyOptions("", "x"), "");
}

}  // namespace
}  // namespace vek::inbound
