#pragma once
// Owners for SQLite's handles and the few calls the store makes through
// them; every failure becomes a SqliteError carrying SQLite's result code.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace melo::store {

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  // The primary result code (SQLITE_CORRUPT, SQLITE_FULL, ...).
  int Code() const { return code_ & 0xff; }

 private:
  int code_;
};

// Opens `path` with `flags` (SQLITE_OPEN_*); throws when SQLite cannot.
Database OpenDatabase(const std::string& path, int flags);
// Throws unless `rc` is SQLITE_OK, SQLITE_ROW or SQLITE_DONE.
void Check(sqlite3* db, int rc);
// Runs one or more statements that return no rows.
void Execute(sqlite3* db, const char* sql);
Statement Prepare(sqlite3* db, std::string_view sql);
// One step; true while it yields a row.
bool Step(sqlite3_stmt* statement);
std::int64_t QueryInteger(sqlite3* db, const char* sql);

void BindBytes(sqlite3_stmt* statement, int index, std::string_view bytes);
void BindInteger(sqlite3_stmt* statement, int index, std::int64_t value);
std::string ColumnBytes(sqlite3_stmt* statement, int column);

}  // namespace melo::store
