// The SQLite registry store: the process's one connection and the key and value operations.
#include "platform/posix/registry_store.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <new>
#include <system_error>

#include "platform/posix/sqlite_db.h"
#include "platform/registry.h"
#include "platform/unique_any.h"

namespace platform::posix::registry_store {
namespace {

using sqlite::FromSqlite;
using sqlite::UniqueDatabase;
using sqlite::UniqueStatement;

// The parent reference has no ON DELETE action, so even a faulty caller cannot orphan
// subkeys. Values go with their key. The root is HKEY_LOCAL_MACHINE.
constexpr const char* kSchema =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE IF NOT EXISTS keys ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER REFERENCES keys (id),"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE (parent, name));"
    "CREATE TABLE IF NOT EXISTS key_values ("
    "  key INTEGER NOT NULL REFERENCES keys (id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY (key, name));"
    "INSERT OR IGNORE INTO keys (id, parent, name) VALUES (1, NULL, '');"
    "COMMIT;";

enum Sql {
  kBeginRead,
  kBeginWrite,
  kCommit,
  kRollback,
  kFindChild,
  kKeyExists,
  kHasChild,
  kInsertKey,
  kDeleteKey,
  kSelectValue,
  kUpsertValue,
  kDeleteValue,
  kListSubkeys,
  kListValues,
  kSqlCount
};

constexpr const char* kStatements[kSqlCount] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id FROM keys WHERE parent = ?1 AND name = ?2",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "INSERT INTO keys (parent, name) VALUES (?1, ?2)",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT type, data FROM key_values WHERE key = ?1 AND name = ?2",
    "INSERT INTO key_values (key, name, type, data) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM key_values WHERE key = ?1 AND name = ?2",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY name, id",
    "SELECT name FROM key_values WHERE key = ?1 ORDER BY rowid",
};

class Store {
 public:
  // A connection opened for writing serves reads too; one that only reads is replaced by one
  // for writing when a write needs it.
  Error Ensure(bool forWriting) {
    if (Serves(forWriting)) return kSuccess;
    Close();
    return Open(forWriting);
  }
  bool Serves(bool forWriting) const { return db_ && (forWriting_ || !forWriting); }
  bool IsOpen() const { return db_.valid(); }
  void Close() noexcept {
    for (auto& statement : statements_) statement.reset();
    db_.reset();
  }
  sqlite3* db() const { return db_.get(); }
  sqlite3_stmt* operator[](Sql sql) const { return statements_[sql].get(); }

 private:
  Error Open(bool forWriting) {
    UniqueDatabase db;
    Error opened = forWriting ? sqlite::OpenStateDatabase("registry.db", kSchema, db)
                              : sqlite::OpenExistingStateDatabase("registry.db", db);
    if (opened == kFileNotFound && !forWriting) opened = sqlite::OpenEmptyDatabase(kSchema, db);
    if (opened != kSuccess) return opened;
    UniqueStatement prepared[kSqlCount];
    for (int sql = 0; sql < kSqlCount; ++sql) {
      const int result = sqlite3_prepare_v3(
          db.get(), kStatements[sql], -1, SQLITE_PREPARE_PERSISTENT, prepared[sql].put(), nullptr);
      if (result != SQLITE_OK) return FromSqlite(db.get(), result);
    }
    for (int sql = 0; sql < kSqlCount; ++sql) statements_[sql] = std::move(prepared[sql]);
    db_ = std::move(db);
    forWriting_ = forWriting;
    return kSuccess;
  }

  // Declared first so that it is destroyed after the statements.
  UniqueDatabase db_;
  bool forWriting_ = false;
  UniqueStatement statements_[kSqlCount];
};

// One use of a cached statement; resetting it at the end releases its read snapshot, which
// would otherwise hold back other processes' checkpoints.
class Query {
 public:
  Query(const Store& store, Sql sql) : statement_(store[sql]) {}
  ~Query() { sqlite3_reset(statement_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bind(int index, KeyId value) {
    return Check(sqlite3_bind_int64(statement_, index, value));
  }
  Query& Bind(int index, std::string_view text) {
    return Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                                   SQLITE_STATIC));
  }
  // A null pointer would bind SQL NULL, so an empty value is an explicit empty blob.
  Query& BindBlob(int index, const void* data, std::uint32_t size) {
    if (size == 0) return Check(sqlite3_bind_zeroblob(statement_, index, 0));
    return Check(sqlite3_bind_blob64(statement_, index, data, size, SQLITE_STATIC));
  }
  int Step() { return bound_ == SQLITE_OK ? sqlite3_step(statement_) : bound_; }

  KeyId Int64(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string_view Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return {text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
  }
  const void* Blob(int column) const { return sqlite3_column_blob(statement_, column); }
  std::uint32_t Bytes(int column) const {
    return static_cast<std::uint32_t>(sqlite3_column_bytes(statement_, column));
  }

 private:
  Query& Check(int result) {
    if (bound_ == SQLITE_OK) bound_ = result;
    return *this;
  }
  sqlite3_stmt* statement_;
  int bound_ = SQLITE_OK;
};

Error Run(const Store& store, Sql sql) {
  Query query(store, sql);
  return FromSqlite(store.db(), query.Step());
}

// The read transaction that a batch keeps open on the connection, and how deeply batches
// nest; used only under the store's lock.
struct ReadBatch {
  int depth = 0;
  bool open = false;
};

ReadBatch& TheReadBatch() {
  static ReadBatch batch;
  return batch;
}

void EndBatchTransaction(const Store& store) {
  ReadBatch& batch = TheReadBatch();
  if (!batch.open) return;
  if (Run(store, kCommit) != kSuccess) Run(store, kRollback);
  batch.open = false;
}

// In a batch whose view a write of its own has ended, a read begins the next view, which
// the batch's later reads share.
void ResumeBatchView(const Store& store) {
  ReadBatch& batch = TheReadBatch();
  if (batch.depth > 0 && !batch.open) batch.open = Run(store, kBeginRead) == kSuccess;
}

// A write begins IMMEDIATE, taking the write lock up front (waiting out other writers), so
// it never fails half-way for a lock and never sees a snapshot gone stale. A read that takes
// several statements shares one snapshot: SQLite takes and drops its file locks once per
// transaction, not once per statement.
class Transaction {
 public:
  Transaction(const Store& store, Sql begin) : store_(store), begin_(begin) {}
  ~Transaction() {
    if (open_) Run(store_, kRollback);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  Error Begin() {
    // A read joins a batch's transaction; a write ends it, for SQLite nests none and a
    // write must not start from a snapshot that may be stale.
    if (begin_ == kBeginRead) ResumeBatchView(store_);
    if (TheReadBatch().open) {
      if (begin_ == kBeginRead) {
        joined_ = true;
        return kSuccess;
      }
      EndBatchTransaction(store_);
    }
    const Error error = Run(store_, begin_);
    open_ = error == kSuccess;
    return error;
  }
  Error Commit() {
    if (joined_) return kSuccess;
    const Error error = Run(store_, kCommit);
    if (error == kSuccess) open_ = false;
    return error;
  }

 private:
  const Store& store_;
  const Sql begin_;
  bool open_ = false;
  bool joined_ = false;
};

// Recursive: a batch holds it across the calls that it makes up.
std::recursive_mutex& StoreMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

Store& TheStore() {
  static Store store;
  return store;
}

// The store, open as `handle` needs it. Replacing the connection ends a batch's transaction.
Error EnsureFor(Store& store, const KeyHandle& handle) {
  if (!store.Serves(!handle.readingOnly)) TheReadBatch().open = false;
  return store.Ensure(!handle.readingOnly);
}

template <typename Operation>
Error Locked(const KeyHandle& handle, Operation&& operation) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(StoreMutex());
    Store& store = TheStore();
    if (Error error = EnsureFor(store, handle)) return error;
    return operation(store);
  } catch (const std::bad_alloc&) {
    return kNotEnoughMemory;
  } catch (...) {
    return kGenFailure;
  }
}

// The limits of the Windows registry, so that a name works the same on both targets.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

Error SplitPath(std::string_view path, std::vector<std::string_view>& levels) {
  if (path.empty()) return kSuccess;
  if (path.front() == '\\') return kBadPathname;
  if (path.back() == '\\') path.remove_suffix(1);
  for (;;) {
    const auto separator = path.find('\\');
    const auto level = path.substr(0, separator);
    if (level.empty() || level.size() > kMaxKeyNameLength) return kBadPathname;
    levels.push_back(level);
    if (separator == std::string_view::npos) return kSuccess;
    path.remove_prefix(separator + 1);
  }
}

Error RequireKey(const Store& store, KeyId key) {
  Query query(store, kKeyExists);
  const int result = query.Bind(1, key).Step();
  if (result == SQLITE_DONE) return kKeyDeleted;
  return FromSqlite(store.db(), result);
}

// Follows `levels` from `from` as far as they exist: `found` levels, ending at `key`.
Error Walk(const Store& store, KeyId from, const std::vector<std::string_view>& levels,
           std::size_t& found, KeyId& key) {
  key = from;
  found = 0;
  for (const auto level : levels) {
    Query query(store, kFindChild);
    const int result = query.Bind(1, key).Bind(2, level).Step();
    if (result == SQLITE_DONE) break;
    if (result != SQLITE_ROW) return FromSqlite(store.db(), result);
    key = query.Int64(0);
    ++found;
  }
  // A key with an existing child cannot have been deleted; otherwise `from` must be checked.
  return found == 0 ? RequireKey(store, from) : kSuccess;
}

// Walk in a read transaction of its own.
Error WalkInOneSnapshot(const Store& store, KeyId from, const std::vector<std::string_view>& levels,
                        std::size_t& found, KeyId& key) {
  Transaction reading(store, kBeginRead);
  if (Error error = reading.Begin()) return error;
  if (Error error = Walk(store, from, levels, found, key)) return error;
  return reading.Commit();
}

Error ListNames(const KeyHandle& key, Sql sql, std::vector<std::string>& names) {
  names.clear();
  const Error error = Locked(key, [&](Store& store) -> Error {
    ResumeBatchView(store);
    Query query(store, sql);
    query.Bind(1, key.id);
    int result;
    while ((result = query.Step()) == SQLITE_ROW) names.emplace_back(query.Text(0));
    if (result != SQLITE_DONE) return FromSqlite(store.db(), result);
    return names.empty() ? RequireKey(store, key.id) : kSuccess;
  });
  if (error != kSuccess) names.clear();
  return error;
}

}  // namespace

Error CreateKey(const KeyHandle& base, std::string_view path, KeyId& key) {
  std::vector<std::string_view> levels;
  return Locked(base, [&](Store& store) -> Error {
    if (Error error = SplitPath(path, levels)) return error;
    std::size_t found = 0;
    KeyId id = 0;
    // Most calls open keys that exist; they need no write lock.
    if (Error error = WalkInOneSnapshot(store, base.id, levels, found, id)) return error;
    if (found < levels.size()) {
      if ((base.access & kKeyCreateSubKey) == 0) return kAccessDenied;
      Transaction transaction(store, kBeginWrite);
      if (Error error = transaction.Begin()) return error;
      // Another process may have changed the tree since the walk above.
      if (Error error = Walk(store, base.id, levels, found, id)) return error;
      for (; found < levels.size(); ++found) {
        Query query(store, kInsertKey);
        const int result = query.Bind(1, id).Bind(2, levels[found]).Step();
        if (result != SQLITE_DONE) return FromSqlite(store.db(), result);
        id = sqlite3_last_insert_rowid(store.db());
      }
      if (Error error = transaction.Commit()) return error;
    }
    key = id;
    return kSuccess;
  });
}

Error OpenKey(const KeyHandle& base, std::string_view path, KeyId& key) {
  std::vector<std::string_view> levels;
  return Locked(base, [&](Store& store) -> Error {
    if (Error error = SplitPath(path, levels)) return error;
    std::size_t found = 0;
    KeyId id = 0;
    if (Error error = WalkInOneSnapshot(store, base.id, levels, found, id)) return error;
    if (found < levels.size()) return kFileNotFound;
    key = id;
    return kSuccess;
  });
}

Error DeleteKey(const KeyHandle& base, std::string_view path) {
  if (base.readingOnly) return kAccessDenied;
  std::vector<std::string_view> levels;
  return Locked(base, [&](Store& store) -> Error {
    if (Error error = SplitPath(path, levels)) return error;
    Transaction transaction(store, kBeginWrite);
    if (Error error = transaction.Begin()) return error;
    std::size_t found = 0;
    KeyId id = 0;
    if (Error error = Walk(store, base.id, levels, found, id)) return error;
    if (found < levels.size()) return kFileNotFound;
    if (id == kRootKeyId) return kAccessDenied;
    {
      Query children(store, kHasChild);
      const int result = children.Bind(1, id).Step();
      if (result == SQLITE_ROW) return kAccessDenied;
      if (result != SQLITE_DONE) return FromSqlite(store.db(), result);
    }
    Query remove(store, kDeleteKey);
    const int result = remove.Bind(1, id).Step();
    if (result != SQLITE_DONE) return FromSqlite(store.db(), result);
    return transaction.Commit();
  });
}

Error QueryValue(const KeyHandle& key, std::string_view name, std::uint32_t* type, void* data,
                 std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return kInvalidParameter;
  if ((key.access & kKeyQueryValue) == 0) return kAccessDenied;
  return Locked(key, [&](Store& store) -> Error {
    ResumeBatchView(store);
    Query query(store, kSelectValue);
    const int result = query.Bind(1, key.id).Bind(2, name).Step();
    if (result == SQLITE_DONE) {
      const Error error = RequireKey(store, key.id);
      return error != kSuccess ? error : kFileNotFound;
    }
    if (result != SQLITE_ROW) return FromSqlite(store.db(), result);
    const void* stored = query.Blob(1);
    const std::uint32_t storedSize = query.Bytes(1);
    if (type != nullptr) *type = static_cast<std::uint32_t>(query.Int64(0));
    if (data == nullptr) {
      if (size != nullptr) *size = storedSize;
      return kSuccess;
    }
    const bool fits = *size >= storedSize;
    if (fits && storedSize > 0) std::memcpy(data, stored, storedSize);
    *size = storedSize;
    return fits ? kSuccess : kMoreData;
  });
}

Error SetValue(const KeyHandle& key, std::string_view name, std::uint32_t type, const void* data,
               std::uint32_t size) {
  if (data == nullptr && size != 0) return kInvalidParameter;
  if (name.size() > kMaxValueNameLength) return kInvalidParameter;
  if ((key.access & kKeySetValue) == 0) return kAccessDenied;
  return Locked(key, [&](Store& store) -> Error {
    Transaction transaction(store, kBeginWrite);
    if (Error error = transaction.Begin()) return error;
    Query query(store, kUpsertValue);
    const int result =
        query.Bind(1, key.id).Bind(2, name).Bind(3, KeyId{type}).BindBlob(4, data, size).Step();
    if (result != SQLITE_DONE) return FromSqlite(store.db(), result);
    return transaction.Commit();
  });
}

Error DeleteValue(const KeyHandle& key, std::string_view name) {
  if ((key.access & kKeySetValue) == 0) return kAccessDenied;
  return Locked(key, [&](Store& store) -> Error {
    Transaction transaction(store, kBeginWrite);
    if (Error error = transaction.Begin()) return error;
    {
      Query query(store, kDeleteValue);
      const int result = query.Bind(1, key.id).Bind(2, name).Step();
      if (result != SQLITE_DONE) return FromSqlite(store.db(), result);
    }
    if (sqlite3_changes(store.db()) == 0) {
      const Error error = RequireKey(store, key.id);
      return error != kSuccess ? error : kFileNotFound;
    }
    return transaction.Commit();
  });
}

Error ListSubkeys(const KeyHandle& key, std::vector<std::string>& names) {
  if ((key.access & kKeyEnumerateSubKeys) == 0) {
    names.clear();
    return kAccessDenied;
  }
  return ListNames(key, kListSubkeys, names);
}

Error ListValues(const KeyHandle& key, std::vector<std::string>& names) {
  if ((key.access & kKeyQueryValue) == 0) {
    names.clear();
    return kAccessDenied;
  }
  return ListNames(key, kListValues, names);
}

Error Flush(const KeyHandle& key) {
  return Locked(key, [&](Store& store) -> Error {
    if (Error error = RequireKey(store, key.id)) return error;
    // A passive checkpoint never waits; whatever it leaves in the journal is synced already.
    const int result =
        sqlite3_wal_checkpoint_v2(store.db(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return (result & 0xff) == SQLITE_BUSY ? kSuccess : FromSqlite(store.db(), result);
  });
}

bool BeginReadBatch() noexcept {
  try {
    StoreMutex().lock();
  } catch (const std::system_error&) {
    return false;  // the reads then go one by one
  }
  ReadBatch& batch = TheReadBatch();
  Store& store = TheStore();
  // A store not open yet is opened by the batch's first read, as its handle needs, which
  // then begins the view (ResumeBatchView); one that cannot be read leaves each read to
  // fail on its own.
  if (batch.depth++ == 0 && store.IsOpen()) batch.open = Run(store, kBeginRead) == kSuccess;
  return true;
}

void EndReadBatch() noexcept {
  ReadBatch& batch = TheReadBatch();
  if (--batch.depth == 0) EndBatchTransaction(TheStore());
  StoreMutex().unlock();
}

void CloseStore() noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(StoreMutex());
    TheReadBatch().open = false;  // closing the connection ends its transaction
    TheStore().Close();
  } catch (...) {
    // Only the mutex can throw; without it there is nothing to close safely.
  }
}

}  // namespace platform::posix::registry_store
