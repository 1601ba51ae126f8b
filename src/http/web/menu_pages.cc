#include "http/web/menu_pages.h"

#include "accounting/quota.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "http/server/responses.h"
#include "http/server/text_util.h"
#include "http/web/templates.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

constexpr const char* kTag = "ThreadProcessConnection";

std::string percentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      char a = s[i + 1], b = s[i + 2];
      auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      };
      if (isHex(a) && isHex(b)) {
        out.push_back(static_cast<char>(hexDigitValue(a) * 16 + hexDigitValue(b)));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

bool shownFor(int option, std::initializer_list<int> options) {
  for (int o : options)
    if (o == option) return true;
  return false;
}

// Keeps (markers removed) or drops every block `name`.
std::string resolveBlock(std::string page, std::string_view name, bool show) {
  const std::string start = "<!@@StartBlock" + std::string(name) + "@@>";
  const std::string end = "<!@@EndBlock" + std::string(name) + "@@>";
  size_t from = 0;
  while (true) {
    size_t s = platform::findNoCase(page, start, from);
    if (s == std::string::npos) break;
    size_t e = platform::findNoCase(page, end, s + start.size());
    if (e == std::string::npos) {
      // An unclosed block: drop its marker and keep (or drop) the rest.
      page.erase(s, show ? start.size() : std::string::npos);
      break;
    }
    if (show) {
      page.erase(e, end.size());
      page.erase(s, start.size());
      from = s;
    } else {
      page.erase(s, e + end.size() - s);
      from = s;
    }
  }
  return page;
}

const char* contentTypeOf(std::string_view name) {
  if (platform::endsWithNoCase(name, ".gif")) return "Content-Type: image/gif\r\n";
  if (platform::endsWithNoCase(name, ".jpg")) return "Content-Type: image/jpeg\r\n";
  return "Content-Type: text/html\r\n";
}

// The file for `relative`: the user's folder first, then the program's.
std::string findMenuFile(const WebUser& user, const std::string& relative) {
  if (!user.anonymous()) {
    std::string dir = foundation::userDirectory(user.name);
    auto html = platform::findNameNoCase(dir, "html");
    if (html) {
      std::string path = resolveNoCase(dir + *html + "/", relative);
      if (!path.empty() && platform::isRegularFile(path)) return path;
    }
  }
  std::string path = resolveNoCase(programHtmlDirectory(), relative);
  if (!path.empty() && platform::isRegularFile(path)) return path;
  return std::string();
}

}  // namespace

std::optional<std::string> menuRelativePath(std::string_view path) {
  path = path.substr(0, std::min(path.size(), kMaxMenuPath));
  const std::string decoded = percentDecode(path);
  std::string out;
  for (const std::string& step : platform::split(decoded, "/\\")) {
    if (step.empty() || step == "." || step == "..") continue;
    if (step.front() == '.' || platform::hasControlCharacters(step)) return std::nullopt;
    if (!out.empty()) out += '/';
    out += step;
  }
  return out;
}

MenuBlockState menuBlockState(const WebUser& user) {
  MenuBlockState s;
  if (user.account) {
    s.web_menu = user.account->web_menu;
    s.admin = user.account->admin;
    s.inbox = user.account->inbox;
  }
  if (!user.anonymous()) {
    if (auto balance = accounting::creditBalance(user.name))
      s.credits = accounting::formatCredits(*balance);
  }
  return s;
}

std::string applyMenuBlocks(std::string_view page, const MenuBlockState& st) {
  std::string out(page);
  out = resolveBlock(std::move(out), "TextSMS", true);
  out = resolveBlock(std::move(out), "MMS", shownFor(st.web_menu, {0, 176, 178, 180}));
  out = resolveBlock(std::move(out), "WAPMM", shownFor(st.web_menu, {0, 176, 179, 180}));
  out = resolveBlock(std::move(out), "Advanced", shownFor(st.web_menu, {0, 176}));
  out = resolveBlock(std::move(out), "Admin", st.admin);
  out = resolveBlock(std::move(out), "EnableInbox", st.inbox);
  out = resolveBlock(std::move(out), "AvailableCredits", st.credits.has_value());
  if (st.credits) out = replaceAll(out, "@@AvailableCredits@@", platform::htmlEscape(*st.credits));
  return out;
}

void serveMenuPage(Connection& conn, const Request& request, const RequestContext& ctx) {
  std::optional<std::string> relative = menuRelativePath(request.path());
  std::string path;
  if (relative && !relative->empty()) path = findMenuFile(ctx.user, *relative);
  if (path.empty()) path = findMenuFile(ctx.user, std::string(kDefaultMenuPage));
  auto content = path.empty() ? nullptr : readTemplateFile(path);
  if (!content) {
    foundation::DebugLog(kTag, "No valid parameters specified, menu page not found");
    conn.send(errorPageResponse(conn, "Unknown request"));
    return;
  }
  const char* type = contentTypeOf(path);
  if (std::string_view(type).find("text/html") != std::string_view::npos) {
    conn.sendResponse("200 OK", type, applyMenuBlocks(*content, menuBlockState(ctx.user)));
  } else {
    conn.sendResponse("200 OK", type, *content);
  }
}

}  // namespace vek::http
