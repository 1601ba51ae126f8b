// Small RAII and error helpers over the SQLite C interface, shared by the
// host library's stores.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::hostlib {

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr) != SQLITE_OK) st_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return st_; }
  explicit operator bool() const { return st_ != nullptr; }

 private:
  sqlite3_stmt* st_ = nullptr;
};

inline void bindText(sqlite3_stmt* st, int index, std::string_view text) {
  sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

inline std::string columnText(sqlite3_stmt* st, int col) {
  const unsigned char* p = sqlite3_column_text(st, col);
  int n = sqlite3_column_bytes(st, col);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

inline platform::Status lastError(sqlite3* db, const std::string& what) {
  return platform::Status::error(what + ": " + sqlite3_errmsg(db), 5 /* EIO */);
}

inline platform::Status exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string why = err ? err : "unknown error";
    sqlite3_free(err);
    return platform::Status::error(sql.substr(0, 40) + ": " + why, 5);
  }
  return platform::Status();
}

}  // namespace vek::hostlib
