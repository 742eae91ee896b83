// The service's dated text log: one stamped line per event, rolled over daily.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace hvs {

// How long a rolled-over log is kept after its last write.
inline constexpr std::int64_t kLogRetentionSeconds = 14 * 24 * 60 * 60;

// Appends "[" stamp "] " message CR LF to <directory>\<fileName>; the file is open only
// for the one write, and the directory is made again when it has gone. Never fails towards
// the caller: a line that cannot be written is lost, as is a console echo that fails.
// Log, LogFormat and RollOver may be called from any thread (a watcher reports a failed
// start): one lock keeps the lines whole and apart from the roll-over. Init comes first.
class LogFile {
 public:
  // `echo` also shows every line on standard output (the service runs in the foreground).
  explicit LogFile(bool echo, const platform::Clock& clock = platform::SystemClock());

  // Stores the directory (no trailing separator) and the live file's name, split at its
  // last "." into base name and extension (both the whole name when it has no ".").
  void Init(std::string directory, std::string fileName);

  // Writes `message` byte for byte: the service's own texts, or texts already shown with
  // ShowControlCharacters.
  void Log(std::string_view message);
  // printf-style formatting, then Log of the text with its control characters shown escaped
  // (ShowControlCharacters), but for a final "\n" that the format itself ends with. Callers
  // double "%" in interpolated task texts.
  void LogFormat(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // From now on every message goes to `sink`, unstamped, instead of the file and the
  // console, and RollOver leaves the files alone: for tools that run the service's parts
  // without writing its log. An empty sink restores the file.
  void Divert(std::function<void(std::string_view message)> sink) { sink_ = std::move(sink); }

  // Renames the live file to <base><creation date>.<ext> when it was last written before
  // today's local midnight, then deletes every <base>*.<ext> not written for 14 days.
  void RollOver();

  const std::string& directory() const { return directory_; }
  const std::string& fileName() const { return fileName_; }
  const std::string& baseName() const { return baseName_; }
  const std::string& extension() const { return extension_; }
  bool echo() const { return echo_; }

 private:
  std::string LiveFilePath() const;
  // Writes one finished line to the live file.
  void Append(std::string_view line);
  std::string Stamp() const;

  bool echo_;
  const platform::Clock& clock_;
  std::string directory_;
  std::string fileName_;
  std::string baseName_;
  std::string extension_;
  std::function<void(std::string_view message)> sink_;
  // Held for one line or one roll-over. A moved log (only while it is being built) gets a
  // lock of its own.
  struct Lock {
    Lock() = default;
    Lock(Lock&&) noexcept {}
    std::mutex mutex;
  };
  Lock lock_;
};

// " +hhmm" / " -hhmm" part of a stamp: minutes east of UTC from the zone's bias, with the
// daylight bias added only in daylight-saving time; "+0000" when the zone is unknown (null).
std::string FormatZoneOffset(const platform::ZoneInformation* zone);
// "%a, %d %b %Y %X" of `local`, a blank, and the zone offset.
std::string FormatStamp(const std::tm& local, const platform::ZoneInformation* zone);
// `text` with each control character shown as an escape ("\r", "\n", "\t", "\x1b"), so
// that a text from outside stays on its line and cannot steer a terminal.
std::string ShowControlCharacters(std::string_view text);

// What the console shows of a line: each "%%" as one "%".
std::string EchoText(std::string_view line);

}  // namespace hvs
