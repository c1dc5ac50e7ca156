#include "core/store/SqliteHandles.h"

namespace melo::store {

Database OpenDatabase(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Database db(raw);  // SQLite hands out a handle even when the open fails
  if (rc != SQLITE_OK) {
    throw SqliteError(rc, raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
  }
  sqlite3_extended_result_codes(raw, 1);
  return db;
}

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    throw SqliteError(rc, sqlite3_errmsg(db));
  }
}

void Execute(sqlite3* db, const char* sql) {
  Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

Statement Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr));
  return Statement(raw);
}

bool Step(sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  Check(sqlite3_db_handle(statement), rc);
  return rc == SQLITE_ROW;
}

std::int64_t QueryInteger(sqlite3* db, const char* sql) {
  const Statement statement = Prepare(db, sql);
  return Step(statement.get()) ? sqlite3_column_int64(statement.get(), 0) : 0;
}

void BindBytes(sqlite3_stmt* statement, int index, std::string_view bytes) {
  Check(sqlite3_db_handle(statement),
        sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
}

void BindInteger(sqlite3_stmt* statement, int index, std::int64_t value) {
  Check(sqlite3_db_handle(statement), sqlite3_bind_int64(statement, index, value));
}

std::string ColumnBytes(sqlite3_stmt* statement, int column) {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  const int size = sqlite3_column_bytes(statement, column);
  return bytes != nullptr ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace melo::store
