// The browser menu: a request with no send parameters is answered with a
// page or file of the user's "html/" folder (in the user's directory) when
// it has one of that name, else of the program directory's "HTML/" folder;
// a missing one falls back to "default.htm".
//
// The path (query removed, at most 1024 characters, percent-escapes
// decoded) never leaves the folder: '\' counts as '/', and empty, "." and
// ".." steps are dropped; a step that starts with '.' or holds a control
// character names nothing.
//
// HTML pages have their blocks resolved: the text between
// "<!@@StartBlock<Name>@@>" and "<!@@EndBlock<Name>@@>" stays (markers
// removed) when the block's condition holds and goes otherwise:
//   TextSMS           always
//   MMS               web menu option 0, 176, 178 or 180
//   WAPMM             web menu option 0, 176, 179 or 180
//   Advanced          web menu option 0 or 176
//   Admin             the account is an administrator
//   EnableInbox       the account has a web inbox
//   AvailableCredits  the account has a credit balance; "@@AvailableCredits@@"
//                     inside becomes the balance
// Requests without an account (anonymous, "localsystem") use option 0.
//
// Runs on the connection's thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/server/connection.h"
#include "http/server/request.h"
#include "http/web/request_context.h"

namespace vek::http {

inline constexpr size_t kMaxMenuPath = 1024;
inline constexpr std::string_view kDefaultMenuPage = "default.htm";

void serveMenuPage(Connection& conn, const Request& request, const RequestContext& ctx);

// The relative file name a request path names ("" for the folder itself),
// or nullopt when a step is refused.
std::optional<std::string> menuRelativePath(std::string_view path);

struct MenuBlockState {
  int web_menu = 0;
  bool admin = false;
  bool inbox = false;
  std::optional<std::string> credits;  // the balance as text
};
MenuBlockState menuBlockState(const WebUser& user);
std::string applyMenuBlocks(std::string_view page, const MenuBlockState& state);

}  // namespace vek::http
