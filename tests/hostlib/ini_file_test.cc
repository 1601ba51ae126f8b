#include "hostlib/ini_file.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/test_support.h"

namespace vek::hostlib {
namespace {

TEST(IniFileTest, ClassicReadingRules) {
  IniFile f = IniFile::parse(
      "\xEF\xBB\xBF"
      "junk before any section=1\r\n"
      "[SMSGW]\r\n"
      "  Debug =  Yes  \r\n"
      "; Debug=No\r\n"
      "debug=No\r\n"  // first occurrence wins
      "line without equals\r\n"
      "Empty=\r\n"
      "Url=http://x/?a=b\r\n"
      "[smsgw]\r\n"  // duplicate section: the first one answers
      "Debug=Never\r\n"
      "Other=Seen only in the second copy\r\n"
      "[Modem1 Section]\n"
      "Port = 7\n");
  EXPECT_EQ(f.get("smsgw", "DEBUG").value(), "Yes");
  EXPECT_EQ(f.get("SMSGW", "Empty").value(), "");
  EXPECT_EQ(f.get("SMSGW", "Url").value(), "http://x/?a=b");
  EXPECT_FALSE(f.get("SMSGW", "Other").has_value());
  EXPECT_FALSE(f.get("SMSGW", "junk before any section").has_value());
  EXPECT_EQ(f.get("modem1 section", "port").value(), "7");
  EXPECT_FALSE(f.get("Nope", "Debug").has_value());
  auto lines = f.sectionLines("SMSGW");
  EXPECT_EQ(lines.front(), "Debug =  Yes");
}

TEST(IniFileTest, BinaryJunkAndHugeValuesNeverStopTheParse) {
  std::string text = "[A]\nx=1\n";
  text += std::string("\0\x01\xff=\xfe\n", 6);
  text += "big=" + std::string(100 * 1024, 'v') + "\n";
  text += "[B\nkey=value\n";
  IniFile f = IniFile::parse(text);
  EXPECT_EQ(f.get("A", "x").value(), "1");
  EXPECT_EQ(f.get("A", "big")->size(), 100u * 1024);
  EXPECT_EQ(f.get("B", "key").value(), "value");
}

TEST(IniFileTest, WritingKeepsOrderAndLineEnds) {
  std::string text = "; comment\r\n[SMSGW]\r\nA=1\r\nB=2\r\n\r\n[Other]\r\nC=3\r\n";
  std::string out = iniSetValue(text, "smsgw", "b", "20");
  EXPECT_EQ(out, "; comment\r\n[SMSGW]\r\nA=1\r\nb=20\r\n\r\n[Other]\r\nC=3\r\n");
  out = iniSetValue(out, "SMSGW", "New", "x");
  EXPECT_EQ(out, "; comment\r\n[SMSGW]\r\nA=1\r\nb=20\r\nNew=x\r\n\r\n[Other]\r\nC=3\r\n");
  out = iniSetValue(out, "Third", "K", "v\r\nInjected=1");
  EXPECT_EQ(IniFile::parse(out).get("Third", "K").value(), "v  Injected=1");
  EXPECT_FALSE(IniFile::parse(out).get("Third", "Injected").has_value());
  out = iniSetValue(out, "SMSGW", "A", std::nullopt);
  EXPECT_FALSE(IniFile::parse(out).get("SMSGW", "A").has_value());
  out = iniSetValue(out, "Other", std::nullopt, std::nullopt);
  EXPECT_FALSE(IniFile::parse(out).hasSection("Other"));
  EXPECT_EQ(iniSetValue("", "S", "k", "v"), "[S]\r\nk=v\r\n");
}

TEST(IniFileTest, StoreSeesOwnWritesAtOnceAndOtherWritersSoon) {
  vek::testing::TempDir dir;
  std::string path = dir.file("SMSGW.INI");
  IniStore store(path);
  EXPECT_EQ(store.get("SMSGW", "Debug", "No"), "No");  // missing file: defaults
  ASSERT_TRUE(store.set("SMSGW", "Debug", "Yes").ok());
  EXPECT_EQ(store.get("SMSGW", "Debug", "No"), "Yes");
  ASSERT_TRUE(platform::writeFileAtomic(path, "[SMSGW]\r\nDebug=Changed\r\n").ok());
  EXPECT_TRUE(vek::testing::waitUntil([&] { return store.get("SMSGW", "Debug") == "Changed"; },
                                      std::chrono::seconds(2)));
  EXPECT_EQ(store.get("SMSGW", "Debug", "", 4), "Cha") << "cut to the caller's buffer";
}

}  // namespace
}  // namespace vek::hostlib
