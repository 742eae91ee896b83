// The rows of eventlog.db: appended by the event log, read back by hvsctl and tests.
#include "platform/posix/event_store.h"

#include <mutex>
#include <new>

#include "platform/posix/sqlite_db.h"

namespace platform::posix::event_store {

namespace {

using sqlite::FromSqlite;

// The insertion strings are one blob, each string followed by a NUL: none is an empty blob,
// one empty string a single NUL.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS events ("
    "  record INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  time INTEGER NOT NULL,"
    "  log TEXT NOT NULL,"
    "  source TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  category INTEGER NOT NULL,"
    "  event_id INTEGER NOT NULL,"
    "  strings BLOB NOT NULL)";

constexpr const char* kInsert =
    "INSERT INTO events (time, log, source, type, category, event_id, strings)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";
constexpr const char* kSelect =
    "SELECT record, time, log, source, type, category, event_id, strings"
    " FROM events ORDER BY record";

std::string EncodeStrings(const std::vector<std::string>& strings) {
  std::string blob;
  for (const auto& text : strings) {
    blob.append(text.c_str());
    blob.push_back('\0');
  }
  return blob;
}

std::vector<std::string> DecodeStrings(const char* data, std::size_t size) {
  std::vector<std::string> strings;
  std::size_t start = 0;
  for (std::size_t at = 0; at < size; ++at) {
    if (data[at] != '\0') continue;
    strings.emplace_back(data + start, at - start);
    start = at + 1;
  }
  return strings;
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return {text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

// A connection of its own for each call: events are few (a start, a stop, a failure), and
// one kept open would hold its cache and the journal's shared memory for the whole run.
class Connection {
 public:
  template <typename Operation>
  Error Locked(Operation&& operation) noexcept {
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      sqlite::UniqueDatabase db;
      if (Error error = sqlite::OpenStateDatabase("eventlog.db", kSchema, db)) return error;
      return operation(db.get());
    } catch (const std::bad_alloc&) {
      return kNotEnoughMemory;
    } catch (...) {
      return kGenFailure;
    }
  }

 private:
  std::mutex mutex_;
};

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

Error Prepare(sqlite3* db, const char* sql, sqlite::UniqueStatement& statement) {
  return FromSqlite(db, sqlite3_prepare_v2(db, sql, -1, statement.put(), nullptr));
}

}  // namespace

Error Append(const EventRecord& event) {
  const std::string blob = EncodeStrings(event.strings);
  return TheConnection().Locked([&](sqlite3* db) -> Error {
    sqlite::UniqueStatement insert;
    if (Error error = Prepare(db, kInsert, insert)) return error;
    sqlite3_stmt* statement = insert.get();
    int bound = sqlite3_bind_int64(statement, 1, event.time);
    if (bound == SQLITE_OK) bound = sqlite3_bind_text(statement, 2, event.log.c_str(), -1, SQLITE_STATIC);
    if (bound == SQLITE_OK)
      bound = sqlite3_bind_text(statement, 3, event.source.c_str(), -1, SQLITE_STATIC);
    if (bound == SQLITE_OK) bound = sqlite3_bind_int(statement, 4, event.type);
    if (bound == SQLITE_OK) bound = sqlite3_bind_int(statement, 5, event.category);
    if (bound == SQLITE_OK) bound = sqlite3_bind_int64(statement, 6, event.eventId);
    // A zero-length blob, not SQL NULL, for an event without strings.
    if (bound == SQLITE_OK)
      bound = sqlite3_bind_blob64(statement, 7, blob.data(), blob.size(), SQLITE_STATIC);
    if (bound != SQLITE_OK) return FromSqlite(db, bound);
    // A single statement outside a transaction is a transaction of its own.
    return FromSqlite(db, sqlite3_step(statement));
  });
}

Error ReadAll(std::vector<EventRecord>& events) {
  events.clear();
  const Error error = TheConnection().Locked([&](sqlite3* db) -> Error {
    sqlite::UniqueStatement select;
    if (Error error = Prepare(db, kSelect, select)) return error;
    sqlite3_stmt* statement = select.get();
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
      EventRecord event;
      event.record = sqlite3_column_int64(statement, 0);
      event.time = sqlite3_column_int64(statement, 1);
      event.log = ColumnText(statement, 2);
      event.source = ColumnText(statement, 3);
      event.type = static_cast<std::uint16_t>(sqlite3_column_int(statement, 4));
      event.category = static_cast<std::uint16_t>(sqlite3_column_int(statement, 5));
      event.eventId = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 6));
      event.strings = DecodeStrings(static_cast<const char*>(sqlite3_column_blob(statement, 7)),
                                    static_cast<std::size_t>(sqlite3_column_bytes(statement, 7)));
      events.push_back(std::move(event));
    }
    return FromSqlite(db, result);
  });
  if (error != kSuccess) events.clear();
  return error;
}

}  // namespace platform::posix::event_store
