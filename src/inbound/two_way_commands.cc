#include "inbound/two_way_commands.h"

#include <algorithm>
#include <mutex>

#include "foundation/config_rules.h"
#include "foundation/wildcard.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

// A list longer than this is a configuration error, not a list to walk on
// every message.
constexpr unsigned kMaxCommands = 10000;

bool isBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// The last-blank rule: fewer than two TABs make the last blank a TAB, no
// TAB at all the last remaining blank too.
std::string withFieldTabs(std::string_view value) {
  std::string v(value);
  const size_t tabs = static_cast<size_t>(std::count(v.begin(), v.end(), '\t'));
  if (tabs >= 2) return v;
  const int conversions = tabs == 0 ? 2 : 1;
  for (int i = 0; i < conversions; ++i) {
    const size_t space = v.rfind(' ');
    if (space == std::string::npos) break;
    v[space] = '\t';
  }
  return v;
}

std::string field(std::string_view text, size_t limit) {
  return std::string(cutUtf8(platform::trim(text), limit));
}

}  // namespace

std::string_view cutUtf8(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

CommandKind commandKind(std::string_view command) {
  if (platform::startsWithNoCase(command, "http://") ||
      platform::startsWithNoCase(command, "https://"))
    return CommandKind::kWeb;
  if (platform::startsWithNoCase(command, "mailto:")) return CommandKind::kMailto;
  return CommandKind::kProgram;
}

TwoWayCommand parseCommandValue(std::string_view value) {
  const std::string v = withFieldTabs(value);
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (fields.size() < 3) {
    const size_t tab = v.find('\t', start);
    if (tab == std::string::npos) break;
    fields.push_back(std::string_view(v).substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(std::string_view(v).substr(start));

  TwoWayCommand c;
  c.keyword = field(fields[0], kMaxKeywordPattern);
  if (fields.size() > 1) c.command = field(fields[1], kMaxCommandText);
  if (fields.size() > 2) c.reply = foundation::yesNo(platform::trim(fields[2]));
  if (fields.size() > 3) {
    const std::string filter = field(fields[3], kMaxRecipientFilter);
    if (filter != "*") {
      for (const std::string& p : platform::split(filter, ",")) {
        std::string_view pattern = platform::trim(p);
        if (!pattern.empty()) c.recipients.emplace_back(pattern);
      }
    }
  }
  return c;
}

std::vector<TwoWayCommand> parseCommandList(const hostlib::IniFile& ini) {
  std::vector<TwoWayCommand> out;
  for (unsigned i = 1; i <= kMaxCommands; ++i) {
    auto value = ini.get("SMSGW", platform::format("ReceiveSMSCommand%u", i));
    if (!value || platform::trim(*value).empty()) break;
    out.push_back(parseCommandValue(*value));
  }
  return out;
}

std::shared_ptr<const std::vector<TwoWayCommand>> commandList() {
  static std::mutex mu;
  static std::shared_ptr<const hostlib::IniFile> parsed_from;
  static std::shared_ptr<const std::vector<TwoWayCommand>> list;
  std::shared_ptr<const hostlib::IniFile> ini = hostlib::smsIni().current();
  std::scoped_lock lk(mu);
  if (!list || ini != parsed_from) {
    list = std::make_shared<const std::vector<TwoWayCommand>>(ini ? parseCommandList(*ini)
                                                                  : std::vector<TwoWayCommand>{});
    parsed_from = std::move(ini);
  }
  return list;
}

std::string firstWord(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && !isBlank(text[end])) ++end;
  return std::string(cutUtf8(text.substr(0, end), kMaxFirstWord));
}

std::string afterFirstWord(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && !isBlank(text[pos])) ++pos;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  return std::string(text.substr(pos));
}

const TwoWayCommand* chooseCommand(const std::vector<TwoWayCommand>& commands,
                                   std::string_view first_word, std::string_view destination,
                                   bool binary) {
  const TwoWayCommand* best = nullptr;
  size_t best_score = 0;
  bool filtered_only = false;
  for (const TwoWayCommand& c : commands) {
    if (!foundation::wildcardMatch(c.keyword, first_word)) continue;
    const bool filtered = !c.recipients.empty();
    if (filtered) {
      bool passes = false;
      for (const std::string& p : c.recipients)
        passes = passes || foundation::wildcardMatch(p, destination);
      if (!passes) continue;
      if (!filtered_only) {
        filtered_only = true;
        best = nullptr;
        best_score = 0;
      }
    } else if (filtered_only) {
      continue;
    }
    const size_t score =
        platform::equalsNoCase(first_word, c.keyword) ? first_word.size() + 1 : c.keyword.size();
    if (best == nullptr || score > best_score) {
      best = &c;
      best_score = score;
    }
  }
  if (best && binary && platform::findNoCase(best->command, "@@Binary@@") == std::string::npos)
    return nullptr;
  return best;
}

}  // namespace vek::inbound
