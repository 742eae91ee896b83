// Opening the state directory's SQLite databases, shared by the registry store and the event log.
#include "platform/posix/sqlite_db.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <initializer_list>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/state_dir.h"

namespace platform::posix::sqlite {

namespace {

// A store grows with every task name it has seen, and SQLite's page cache (2 MiB by default)
// with it: the resident memory of a service that runs for years would follow. The pages that
// every run reads (the tree's upper levels, the variables' keys) fit in far less; the others
// come from the file, which the system caches.
constexpr const char* kCacheSize = "PRAGMA cache_size = -256";  // KiB per connection


using UniqueFd = UniqueAny<int, &::close, [] { return -1; }>;

constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyPollMs = 1;

// sqlite's own timeout backs off to 100 ms naps, and a waiter that naps that long behind a
// busy writer rarely finds the lock free; short, even naps give every process its turn.
int WaitForLock(void*, int attempts) {
  if (attempts * kBusyPollMs >= kBusyTimeoutMs) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPollMs));
  return 1;
}

// sqlite would create the file with the umask's mode; the registry holds passwords, so the
// file is made here, owner-only, and sqlite gives the -wal and -shm files the same mode.
Error CreatePrivateFile(const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file) return LastErrno();
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && (info.st_mode & 077) != 0) ::fchmod(file.get(), 0600);
  return kSuccess;
}

}  // namespace

Error FromSqlite(sqlite3* db, int result) {
  switch (result) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return kSuccess;
    case SQLITE_CONSTRAINT_FOREIGNKEY: return kKeyDeleted;
    default: break;
  }
  switch (result & 0xff) {
    case SQLITE_NOMEM: return kNotEnoughMemory;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH: return kAccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kSharingViolation;
    case SQLITE_TOOBIG: return kInvalidParameter;
    case SQLITE_CANTOPEN: {
      const int error = db ? sqlite3_system_errno(db) : 0;
      return error != 0 ? FromErrno(error) : kAccessDenied;
    }
    default: return kRegistryIoFailed;
  }
}

namespace {

Error Configure(sqlite3* db, std::initializer_list<const char*> statements) {
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_handler(db, &WaitForLock, nullptr);
  for (const char* sql : statements) {
    const int executed = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (executed != SQLITE_OK) return FromSqlite(db, executed);
  }
  return kSuccess;
}

// A store that cannot be written (a read-only mount, a directory without write
// permission) can still be read: queries need no write.
Error OpenReadOnly(const std::string& path, UniqueDatabase& db) {
  UniqueDatabase opened;
  const int result =
      sqlite3_open_v2(path.c_str(), opened.put(), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (result != SQLITE_OK) return FromSqlite(opened.get(), result);
  if (Error error = Configure(opened.get(), {kCacheSize, "PRAGMA foreign_keys = ON",
                                              "PRAGMA schema_version"}))
    return error;
  db = std::move(opened);
  return kSuccess;
}

// By default each connection's page cache starts with room for 20 pages, which it writes
// to at once: 85 KiB resident for good per store, most of which the event log never fills.
// Pages are allocated as they are read instead. This must come before SQLite's first use.
void ConfigureOnce() {
  static const int pagesOnDemand = sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
  (void)pagesOnDemand;
}

}  // namespace

Error OpenStateDatabase(const std::string& fileName, const char* schema, UniqueDatabase& db) {
  ConfigureOnce();
  if (Error error = CheckStateDirectory()) return error;
  const std::string path = StateDirectory() + "/" + fileName;
  Error error = CreatePrivateFile(path);
  if (error == kSuccess) {
    UniqueDatabase opened;
    const int result = sqlite3_open_v2(path.c_str(), opened.put(),
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    error = result != SQLITE_OK
                ? FromSqlite(opened.get(), result)
                : Configure(opened.get(), {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                                           kCacheSize, "PRAGMA foreign_keys = ON", schema});
    if (error == kSuccess) {
      db = std::move(opened);
      return kSuccess;
    }
  }
  if (error != kAccessDenied || ::access(path.c_str(), R_OK) != 0) return error;
  return OpenReadOnly(path, db) == kSuccess ? kSuccess : error;
}

Error OpenExistingStateDatabase(const std::string& fileName, UniqueDatabase& db) {
  ConfigureOnce();
  const std::string directory = StateDirectory(Missing::kLeave);
  if (Error error = CheckDirectory(directory)) return error;
  const std::string path = directory + "/" + fileName;
  if (::access(path.c_str(), F_OK) != 0) return LastErrno();
  return OpenReadOnly(path, db);
}

Error OpenEmptyDatabase(const char* schema, UniqueDatabase& db) {
  ConfigureOnce();
  UniqueDatabase opened;
  const int result = sqlite3_open_v2(":memory:", opened.put(),
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  const Error error = result != SQLITE_OK ? FromSqlite(opened.get(), result)
                                          : Configure(opened.get(), {"PRAGMA foreign_keys = ON", schema});
  if (error == kSuccess) db = std::move(opened);
  return error;
}

}  // namespace platform::posix::sqlite
