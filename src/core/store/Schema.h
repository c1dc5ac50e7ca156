#pragma once
// The store's schema as data (schema/*.sql): the whole current schema for a
// new file, and numbered migrations that take an older file up one version
// each. The version lives in the file itself (PRAGMA user_version).

#include <span>
#include <stdexcept>
#include <string_view>

struct sqlite3;

namespace melo::store {

struct Migration {
  int version;  // the version the file has once this has run
  std::string_view sql;
};

std::string_view WholeSchema();
std::span<const Migration> Migrations();  // in version order, from 1
int CurrentSchemaVersion();

// A file that holds a database, but not one of ours or not one this
// program can read (a newer version).
class ForeignStore : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Brings the database to the current version: a new (empty) one gets the
// whole schema, an older one the migrations it lacks, each in a transaction
// of its own. Throws ForeignStore or SqliteError.
void BringSchemaUpToDate(sqlite3* db);

// Throws ForeignStore unless `db` is empty or at a version this program
// reads; returns that version (0: empty).
int CheckedSchemaVersion(sqlite3* db);

}  // namespace melo::store
