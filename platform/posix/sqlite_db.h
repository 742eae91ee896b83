// The SQLite databases of the state directory: how they are opened, and their errors.
#pragma once

#include <sqlite3.h>

#include <string>

#include "platform/error.h"
#include "platform/unique_any.h"

namespace platform::posix::sqlite {

using UniqueDatabase = UniqueAny<sqlite3*, &sqlite3_close_v2>;
using UniqueStatement = UniqueAny<sqlite3_stmt*, &sqlite3_finalize>;

// The Win32 number of an SQLite result (extended codes): 0 for OK, ROW and DONE.
Error FromSqlite(sqlite3* db, int result);

// Opens StateDirectory()/`fileName`, created owner-only (mode 0600; its -wal and -shm files
// follow), with extended result codes, a WAL journal, synchronous FULL, foreign keys on and
// a busy handler that waits up to 10 s for other processes, then runs `schema`. The service,
// hvsctl and an installer use these files at the same time. A file that cannot be written
// opens read-only (no schema then): reads work, writes fail with 5. Fails with 5 when
// CheckStateDirectory refuses the directory.
Error OpenStateDatabase(const std::string& fileName, const char* schema, UniqueDatabase& db);

// Opens StateDirectory()/`fileName` for reading only, creating and writing nothing: neither
// the directory nor the file is made, and no schema is run. 2 when either is missing; 5
// when CheckStateDirectory would refuse the directory.
Error OpenExistingStateDatabase(const std::string& fileName, UniqueDatabase& db);

// A database of this process alone, in memory, holding `schema`: the contents of a store
// that is not there.
Error OpenEmptyDatabase(const char* schema, UniqueDatabase& db);

}  // namespace platform::posix::sqlite
