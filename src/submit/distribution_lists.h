// Distribution lists and the address book on disk.
//
//   <data>/DLists/[<user>/]<name>.TXT    one list: a member per line,
//                                        "<address>[ <name>]"
//   <data>/DLists/[<user>/]ADDRESS.LST   the address book, same line form
//
// The per-user sub-directory is used when a user is logged in. A list name
// (from a request) is one path component: not empty, at most 100 bytes, no
// '/', '\', ':', control characters, no leading '.', so "..", "....//" and
// their %2e forms (decoded before they get here) can never name a file
// outside the directory. Names match without regard to case.
//
// Changes are read-modify-write of a whole file under one process-wide
// lock and replace the file atomically, so two concurrent changes never
// lose one another and a reader never sees half a file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vek::submit {

inline constexpr size_t kMaxListName = 100;
inline constexpr std::string_view kListExtension = ".TXT";
inline constexpr std::string_view kAddressBookFile = "ADDRESS.LST";

// "<data>/DLists/" plus the user's sub-directory when `user` is not empty.
std::string listDirectory(std::string_view user);
bool isValidListName(std::string_view name);

// One line of a list or the address book.
struct ListMember {
  std::string address;
  std::string name;
};
// Lines split at their first blank; a UTF-8 byte order mark at the start,
// empty lines and lines at or below the blank are skipped.
std::vector<ListMember> parseListText(std::string_view text);
std::string formatListText(const std::vector<ListMember>& members);

// Whether the list directory `dir` exists, as seen at most a second ago
// (the send path asks on every request; changes made here are seen at once).
bool listDirectoryExists(const std::string& dir);

// The names of the lists in `dir` (file names without ".TXT"), sorted.
std::vector<std::string> listNames(const std::string& dir);
// The path of list `name` in `dir` when it exists (case ignored).
std::optional<std::string> findListFile(const std::string& dir, std::string_view name);

// Reads a list or address book file; an absent file is an empty list.
std::vector<ListMember> readListFile(const std::string& path);

// Applies `change` to the members of `path` (absent: empty) under the
// store's lock and writes the result; the directory is created when
// missing. `change` returns false to leave the file as it was.
platform::Status updateListFile(const std::string& path,
                                const std::function<bool(std::vector<ListMember>*)>& change);
platform::Status removeListFile(const std::string& path);

}  // namespace vek::submit
