#include "http/web/dist_lists.h"

#include <algorithm>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "http/server/form_data.h"
#include "http/server/params.h"
#include "http/server/responses.h"
#include "http/web/templates.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "submit/distribution_lists.h"

namespace vek::http {
namespace {

using submit::findListFile;
using submit::isValidListName;
using submit::kAddressBookFile;
using submit::kListExtension;
using submit::listDirectory;
using submit::ListMember;
using submit::listNames;
using submit::parseListText;
using submit::readListFile;
using submit::removeListFile;
using submit::updateListFile;

constexpr const char* kTag = "ThreadProcessConnection";
constexpr size_t kNameSize = 101;
constexpr size_t kImportSize = 1u << 20;

std::string param(const Request& r, std::string_view name, size_t size = kNameSize) {
  return requestParameter(r.view(), name, size).value_or("");
}

bool yes(const Request& r, std::string_view name) {
  return foundation::yesNo(param(r, name));
}

void sendPlain(Connection& conn, std::string_view text) {
  conn.sendResponse("200 OK", "Content-Type: text/plain\r\n", text);
}

void sendNotFound(Connection& conn) {
  conn.send(platform::format("%s 404 Not Found\r\n%sContent-Length: 0\r\n\r\n", conn.protocol(),
                             conn.connectionLine()));
}

void sendPage(Connection& conn, std::string_view body) {
  std::string headers = "Content-Type: text/html\r\n";
  headers.append(kNoCacheLines).append("\r\n");
  conn.sendResponse("200 OK", headers, body);
}

// A page from its template, or the built-in `fallback` body (which uses
// the same markers), with each marker replaced.
std::string page(std::string_view template_name, std::string_view fallback,
                 const std::vector<std::pair<std::string_view, std::string>>& markers) {
  auto tmpl = programTemplate(template_name);
  std::string out(tmpl ? std::string_view(*tmpl) : fallback);
  for (const auto& [marker, value] : markers) out = replaceAll(out, marker, value);
  return out;
}

std::string memberRows(const std::vector<ListMember>& members) {
  std::string rows;
  for (const ListMember& m : members) {
    rows += "<tr><td>" + platform::htmlEscape(m.address) + "</td><td>" +
            platform::htmlEscape(m.name) + "</td></tr>\r\n";
  }
  return rows;
}

// An address may be stored when it is one word of printable characters.
bool validAddress(std::string_view a) {
  return !a.empty() && !platform::hasControlCharacters(a) && a.find(' ') == std::string_view::npos;
}

bool refuseInvalid(Connection& conn, std::string_view name) {
  std::string text = "Invalid character in parameter " + std::string(name);
  foundation::DebugLog(kTag, text);
  conn.send(errorPageResponse(conn, text));
  return false;
}

// Adds or replaces (`replace`) members from import text.
platform::Status importMembers(const std::string& path, std::string_view data, bool replace) {
  std::vector<ListMember> incoming = parseListText(data);
  return updateListFile(path, [&](std::vector<ListMember>* members) {
    if (replace) members->clear();
    for (ListMember& m : incoming) {
      if (!validAddress(m.address)) continue;
      members->push_back(std::move(m));
    }
    return true;
  });
}

// Adds (or renames) or deletes one member; the plain answer.
void changeMember(Connection& conn, const std::string& path, const std::string& address,
                  const std::string& name, bool remove) {
  bool found = false;
  platform::Status st = updateListFile(path, [&](std::vector<ListMember>* members) {
    auto it = std::find_if(members->begin(), members->end(), [&](const ListMember& m) {
      return platform::equalsNoCase(m.address, address);
    });
    found = it != members->end();
    if (remove) {
      if (!found) return false;
      members->erase(it);
    } else if (found) {
      it->name = name;
    } else {
      members->push_back(ListMember{address, name});
    }
    return true;
  });
  if (!st.ok()) {
    foundation::DebugLogf(kTag, "Unable to update %s: %s", path.c_str(), st.message().c_str());
    sendPlain(conn, "ERROR : " + address + " not saved");
    return;
  }
  sendPlain(conn, (remove && !found ? "ERROR : " + address + " not found" : "OK : " + address));
}

void listIndex(Connection& conn, const std::string& dir) {
  std::string index;
  for (const std::string& name : listNames(dir)) {
    index += "<a href=\"/DLists?DListName=" + platform::htmlEscape(percentEncode(name)) + "\">" +
             platform::htmlEscape(name) + "</a><br>\r\n";
  }
  sendPage(conn, page("DList Index.htm",
                      "<HTML><HEAD><TITLE>Distribution Lists</TITLE></HEAD><BODY>\r\n"
                      "<H2>Distribution Lists</H2>\r\n@@DListIndex@@</BODY></HTML>\r\n",
                      {{"@@DListIndex@@", index}}));
}

void distributionList(Connection& conn, const Request& r, const RequestContext& ctx) {
  const std::string dir = listDirectory(ctx.user.name);
  const std::string name = param(r, "DListName");
  if (name.empty()) {
    listIndex(conn, dir);
    return;
  }
  if (!isValidListName(name)) {
    refuseInvalid(conn, "DListName");
    return;
  }
  const std::string action = param(r, "DListAction");
  const std::optional<std::string> existing = findListFile(dir, name);
  const std::string path = existing ? *existing : dir + name + std::string(kListExtension);

  if (platform::equalsNoCase(action, "Delete")) {
    if (!existing) {
      sendPlain(conn, "ERROR : " + name + " not found");
      return;
    }
    (void)removeListFile(path);
    sendPlain(conn, "OK : " + name);
    return;
  }
  if (platform::equalsNoCase(action, "Create") || platform::equalsNoCase(action, "Import")) {
    std::string data = platform::equalsNoCase(action, "Import")
                           ? param(r, "DListImportData", kImportSize)
                           : std::string();
    platform::Status st = importMembers(path, data, yes(r, "DListImportReplace"));
    sendPlain(conn, st.ok() ? "OK : " + name : "ERROR : " + name + " not saved");
    return;
  }
  if (platform::equalsNoCase(action, "ImportForm")) {
    sendPage(conn, page("DList Import.htm",
                        "<HTML><HEAD><TITLE>Import</TITLE></HEAD><BODY>\r\n<H2>Import into "
                        "@@DListName@@</H2>\r\n</BODY></HTML>\r\n",
                        {{"@@DListName@@", platform::htmlEscape(name)}}));
    return;
  }
  const std::string member = param(r, "DListMember");
  if (!member.empty()) {
    const std::string member_name = param(r, "DListMemberName");
    if (!validAddress(member)) {
      refuseInvalid(conn, "DListMember");
      return;
    }
    if (platform::hasControlCharacters(member_name)) {
      refuseInvalid(conn, "DListMemberName");
      return;
    }
    const bool remove = platform::equalsNoCase(param(r, "DListMemberAction"), "Delete");
    if (remove && !existing) {
      sendNotFound(conn);
      return;
    }
    changeMember(conn, path, member, member_name, remove);
    return;
  }
  if (!existing) {
    sendNotFound(conn);
    return;
  }
  sendPage(conn, page("DList Members.htm",
                      "<HTML><HEAD><TITLE>@@DListName@@</TITLE></HEAD><BODY>\r\n"
                      "<H2>@@DListName@@</H2>\r\n<TABLE>\r\n@@DListMembers@@</TABLE>\r\n"
                      "</BODY></HTML>\r\n",
                      {{"@@DListName@@", platform::htmlEscape(name)},
                       {"@@DListMembers@@", memberRows(readListFile(path))}}));
}

void addressBook(Connection& conn, const Request& r, const RequestContext& ctx) {
  const std::string path = listDirectory(ctx.user.name) + std::string(kAddressBookFile);
  const std::string member = param(r, "AddrBookMember");
  if (!member.empty()) {
    const std::string member_name = param(r, "AddrBookMemberName");
    if (!validAddress(member)) {
      refuseInvalid(conn, "AddrBookMember");
      return;
    }
    if (platform::hasControlCharacters(member_name)) {
      refuseInvalid(conn, "AddrBookMemberName");
      return;
    }
    changeMember(conn, path, member, member_name,
                 platform::equalsNoCase(param(r, "AddrBookMemberAction"), "Delete"));
    return;
  }
  const std::string action = param(r, "AddrBookAction");
  if (platform::equalsNoCase(action, "Import")) {
    platform::Status st = importMembers(path, param(r, "AddrBookImportData", kImportSize),
                                        yes(r, "AddrBookImportReplace"));
    sendPlain(conn, st.ok() ? "OK : Address Book" : "ERROR : Address Book not saved");
    return;
  }
  if (platform::equalsNoCase(action, "ImportForm")) {
    sendPage(conn, page("Address Book Import.htm",
                        "<HTML><HEAD><TITLE>Import</TITLE></HEAD><BODY>\r\n<H2>Address Book "
                        "Import</H2>\r\n</BODY></HTML>\r\n",
                        {}));
    return;
  }
  sendPage(conn, page("Address Book.htm",
                      "<HTML><HEAD><TITLE>Address Book</TITLE></HEAD><BODY>\r\n<H2>Address "
                      "Book</H2>\r\n<TABLE>\r\n@@AddrBookMembers@@</TABLE>\r\n</BODY></HTML>\r\n",
                      {{"@@AddrBookMembers@@", memberRows(readListFile(path))}}));
}

}  // namespace

void handleListRequest(Connection& conn, const Request& request, const RequestContext& ctx) {
  if (platform::startsWithNoCase(request.path(), "/DLists")) {
    distributionList(conn, request, ctx);
  } else {
    addressBook(conn, request, ctx);
  }
}

}  // namespace vek::http
