#include "core/store/Schema.h"

#include <string>

#include "core/store/SqliteHandles.h"

namespace melo::store {
namespace {

void SetVersion(sqlite3* db, int version) {
  Execute(db, ("PRAGMA user_version = " + std::to_string(version)).c_str());
}

// Runs `sql` and sets the version in one transaction, so a file never holds
// half a migration.
void ApplyAt(sqlite3* db, std::string_view sql, int version) {
  Execute(db, "BEGIN IMMEDIATE");
  try {
    Execute(db, std::string(sql).c_str());
    SetVersion(db, version);
    Execute(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

int CurrentSchemaVersion() {
  return Migrations().back().version;
}

int CheckedSchemaVersion(sqlite3* db) {
  const auto version = static_cast<int>(QueryInteger(db, "PRAGMA user_version"));
  if (version > CurrentSchemaVersion()) {
    throw ForeignStore("the list was saved by a newer version of the program (schema " +
                       std::to_string(version) + ")");
  }
  if (version <= 0 && QueryInteger(db, "SELECT count(*) FROM sqlite_master") > 0) {
    throw ForeignStore("the file holds a database of another program");
  }
  return version;
}

void BringSchemaUpToDate(sqlite3* db) {
  const int version = CheckedSchemaVersion(db);
  if (version == 0) {
    ApplyAt(db, WholeSchema(), CurrentSchemaVersion());
    return;
  }
  for (const Migration& migration : Migrations()) {
    if (migration.version > version) {
      ApplyAt(db, migration.sql, migration.version);
    }
  }
}

}  // namespace melo::store
