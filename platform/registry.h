// The HKEY_LOCAL_MACHINE registry: keys addressed by `\`-separated paths, typed byte values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/unique_any.h"

namespace platform {

// Value types (the registry's own numbers).
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Access rights of a key handle.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

namespace detail {
void CloseRegistryKey(void* handle) noexcept;
}

// An open registry key. Move-only; the destructor closes it. Key and value names compare
// without regard to case and keep the case they were created with. No operation throws.
class RegistryKey {
 public:
  RegistryKey() noexcept = default;

  // HKEY_LOCAL_MACHINE itself, the root of every path this program uses.
  static RegistryKey LocalMachine();
  // HKEY_LOCAL_MACHINE for a tool that only looks, with read access; so are the keys opened
  // below it. On POSIX the store is then opened for reading only and never created or
  // written, and a store that is not there reads as an empty HKEY_LOCAL_MACHINE. Windows'
  // reads write nothing anyway: there it is LocalMachine().
  static RegistryKey LocalMachineForReading();

  bool IsOpen() const noexcept { return handle_.valid(); }
  void Close() noexcept { handle_.reset(); }

  // Opens `path` below this key with `access`, creating every missing level (an empty
  // path opens this key again). 0 on success, with `key` owning the new handle.
  Error Create(std::string_view path, std::uint32_t access, RegistryKey& key) const;
  // Opens an existing key only: 2 when any level is missing.
  Error Open(std::string_view path, std::uint32_t access, RegistryKey& key) const;

  // Reads value `name` (empty: the key's default value). With `data` null, `*size`
  // receives the stored size; otherwise `*size` is the buffer's capacity on entry and
  // the stored size on return, 234 when the buffer is too small. `type` may be null.
  // 2 when the value is absent.
  Error QueryValue(std::string_view name, std::uint32_t* type, void* data,
                   std::uint32_t* size) const;
  // Stores exactly `size` bytes of `data` with `type`, replacing an earlier value.
  Error SetValue(std::string_view name, std::uint32_t type, const void* data,
                 std::uint32_t size) const;
  Error DeleteValue(std::string_view name) const;
  // Deletes the subkey `path`, which must have no subkeys of its own (else 5).
  Error DeleteKey(std::string_view path) const;
  // Deletes the subkey `path` with every key below it, deepest first. 2 when `path` is
  // missing; a subkey that vanishes meanwhile counts as deleted. Any other failure of
  // opening, listing or deleting ends the walk and is returned; what is gone stays gone.
  Error DeleteTree(std::string_view path) const;
  // Writes the key's changes to permanent storage before returning.
  Error Flush() const;

  // Names of the subkeys and of the values, in the store's order.
  Error ListSubkeys(std::vector<std::string>& names) const;
  Error ListValues(std::vector<std::string>& names) const;

  void* native() const noexcept { return handle_.get(); }

 private:
  explicit RegistryKey(void* handle) noexcept : handle_(handle) {}
  friend struct RegistryAccess;

  UniqueAny<void*, &detail::CloseRegistryKey> handle_;
};

// While it lives, the registry reads of the thread that made it are one set. On POSIX they
// share one read transaction of the store, instead of one for every key opened and value
// read, and see the store as it was at the first of them; other threads' registry calls
// wait for its end, and a write on this thread ends the shared view first, so writes work
// as without it; the reads after the write share a new view. Windows's registry has no such
// view, and there it does nothing. May nest.
class RegistryReadBatch {
 public:
  RegistryReadBatch() noexcept;
  ~RegistryReadBatch();
  RegistryReadBatch(const RegistryReadBatch&) = delete;
  RegistryReadBatch& operator=(const RegistryReadBatch&) = delete;

 private:
  bool begun_ = false;
};

// What keeps this process from using the registry, as a sentence naming the cause ("the
// state directory /x may be written by others (mode 0777)"), with its error; 0 and `why`
// untouched when nothing does. A store that is not there yet keeps nobody out: a write
// makes it, and a reader sees it empty. Looks without creating anything. Windows' registry
// is part of the system: always 0 there.
Error RegistryStoreProblem(std::string& why);

// Lets an implementation file wrap and reach native handles.
struct RegistryAccess {
  static RegistryKey Wrap(void* handle) noexcept { return RegistryKey(handle); }
};

}  // namespace platform
