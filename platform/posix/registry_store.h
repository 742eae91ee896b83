// The SQLite database that holds HKEY_LOCAL_MACHINE on POSIX: a tree of keys with typed values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace platform::posix {

// Key ids are never reused, so an id that is gone means "deleted", not "someone else's key".
using KeyId = std::int64_t;
inline constexpr KeyId kRootKeyId = 1;

// What an open registry handle points at: the key and the rights it was opened with, and
// whether it comes from HKEY_LOCAL_MACHINE for reading only (RegistryKey::LocalMachineForReading).
struct KeyHandle {
  KeyId id = kRootKeyId;
  std::uint32_t access = 0;
  bool readingOnly = false;
};

// The store lives in StateDirectory()/registry.db (mode 0600, WAL journal) and is shared by
// every process of the machine; one connection per process, opened at the first call and
// used under one lock. Every change is one transaction. Names compare without regard to
// ASCII case and keep the case of their creation. Paths are `\`-separated below the
// handle's key: a leading `\` or an empty level is 161; one trailing `\` is ignored.
// Every call fails with 1018 when the handle's key has been deleted, and with the error
// of the open (an errno mapping, 5 or 1016) while the database cannot be opened.
// A handle for reading only uses the connection as it is, or opens one that only reads:
// the store is then neither created nor written, and a store that is not there reads as
// an empty one. Any other handle needs a connection that may write, and reopens one that
// only reads.
namespace registry_store {

// Finds or creates `path` below `base`; creating needs kKeyCreateSubKey on `base` (else 5).
// All missing levels are created together or not at all.
Error CreateKey(const KeyHandle& base, std::string_view path, KeyId& key);
// Finds an existing `path` below `base`; 2 when a level is missing.
Error OpenKey(const KeyHandle& base, std::string_view path, KeyId& key);
// Deletes the key `path` below `base` (empty: `base` itself) with its values; 5 when it has
// subkeys or is the root, or `base` is for reading only, and then nothing changes.
Error DeleteKey(const KeyHandle& base, std::string_view path);

// Reads a value as the registry does: `data` null asks only for the size; a too small
// buffer is 234 with `*size` set to the stored size; `data` without `size` is 87.
// Needs kKeyQueryValue.
Error QueryValue(const KeyHandle& key, std::string_view name, std::uint32_t* type, void* data,
                 std::uint32_t* size);
// Stores exactly `size` bytes; an existing value keeps the case of its name. Needs kKeySetValue.
Error SetValue(const KeyHandle& key, std::string_view name, std::uint32_t type, const void* data,
               std::uint32_t size);
// 2 when absent. Needs kKeySetValue.
Error DeleteValue(const KeyHandle& key, std::string_view name);

// Subkey names sorted without regard to case (needs kKeyEnumerateSubKeys); value names in
// the order of their creation (needs kKeyQueryValue).
Error ListSubkeys(const KeyHandle& key, std::vector<std::string>& names);
Error ListValues(const KeyHandle& key, std::vector<std::string>& names);

// Commits are durable already; this also moves the journal into the database file.
Error Flush(const KeyHandle& key);

// A batch of reads by this thread in one read transaction (RegistryReadBatch): the store's
// lock is held from BeginReadBatch to EndReadBatch, which must follow on the same thread
// when BeginReadBatch returned true. Batches nest; a write in one ends its transaction.
bool BeginReadBatch() noexcept;
void EndReadBatch() noexcept;

// Closes the process's connection; the next call opens StateDirectory() again. Handles stay
// valid across a reopen of the same database.
void CloseStore() noexcept;

}  // namespace registry_store
}  // namespace platform::posix
