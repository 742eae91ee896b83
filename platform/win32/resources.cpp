// The string table of the executable and the message tables of message DLLs, on Windows.
#include "platform/resources.h"

#include <windows.h>

#include "platform/unique_any.h"

namespace platform {

namespace {

void ReleaseModule(HMODULE module) noexcept { ::FreeLibrary(module); }
void ReleaseLocal(char* buffer) noexcept { ::LocalFree(buffer); }

using UniqueModule = UniqueAny<HMODULE, &ReleaseModule>;
using UniqueLocalText = UniqueAny<char*, &ReleaseLocal>;

// FormatMessage reads as many arguments as the text refers to, so every reference up to
// the largest it accepts needs one; those beyond the caller's strings show themselves.
constexpr std::size_t kMaxInserts = 99;

}  // namespace

std::string LoadResourceString(std::uint32_t id) {
  if (id > 0xFFFF) return "";
  char buffer[4096];
  const int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
}

std::string EventMessageText(const std::string& messageFile, std::uint32_t eventId,
                             const std::vector<std::string>& inserts) {
  // As data only: the event viewer never runs code of a message file either.
  UniqueModule module(::LoadLibraryExA(messageFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return "";

  std::vector<std::string> placeholders;
  std::vector<DWORD_PTR> arguments;
  placeholders.reserve(kMaxInserts);
  for (std::size_t index = 0; index < kMaxInserts; ++index) {
    if (index < inserts.size()) {
      arguments.push_back(reinterpret_cast<DWORD_PTR>(inserts[index].c_str()));
      continue;
    }
    // Appended rather than prefixed: GCC 12 sees an overlapping copy in "%" + text that
    // is not there (-Wrestrict), and prefixing moves the digits for nothing anyway.
    std::string& placeholder = placeholders.emplace_back(1, '%');
    placeholder += std::to_string(index + 1);
    arguments.push_back(reinterpret_cast<DWORD_PTR>(placeholders.back().c_str()));
  }

  char* raw = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      module.get(), eventId, 0, reinterpret_cast<char*>(&raw), 0,
      reinterpret_cast<va_list*>(arguments.data()));
  UniqueLocalText text(raw);
  if (length == 0 || !text) return "";
  std::string result(text.get(), length);
  // Only the line end that the message compiler put after the text: an insertion string
  // may end with one of its own.
  if (result.size() >= 2 && result.compare(result.size() - 2, 2, "\r\n") == 0)
    result.resize(result.size() - 2);
  else if (!result.empty() && result.back() == '\n')
    result.pop_back();
  return result;
}

}  // namespace platform
