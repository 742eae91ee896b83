// Line writing, stamps and the daily roll-over of the service log.
#include "log/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/files.h"

namespace hvs {

namespace {

std::string FormatTime(const std::tm& local, const char* format) {
  char buffer[80];
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, length);
}

std::string LocalDate(std::int64_t time) {
  std::tm local {};
  return platform::ToLocalTime(time, local) ? FormatTime(local, "%Y%m%d") : std::string();
}

}  // namespace

std::string FormatZoneOffset(const platform::ZoneInformation* zone) {
  std::int32_t bias = 0;
  if (zone != nullptr) {
    bias = zone->bias;
    if (zone->status == platform::ZoneInformation::Status::Daylight) bias += zone->daylightBias;
  }
  const std::int32_t offset = -bias;
  const std::int32_t magnitude = offset < 0 ? -offset : offset;
  char text[8];
  std::snprintf(text, sizeof text, "%c%02d%02d", offset < 0 ? '-' : '+',
                static_cast<int>((magnitude / 60) % 100), static_cast<int>(magnitude % 60));
  return text;
}

std::string FormatStamp(const std::tm& local, const platform::ZoneInformation* zone) {
  return FormatTime(local, "%a, %d %b %Y %X") + " " + FormatZoneOffset(zone);
}

std::string ShowControlCharacters(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  // Plain runs are copied whole: most lines hold no control character at all.
  std::size_t plainFrom = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte != 0x7f) continue;
    shown.append(text, plainFrom, i - plainFrom);
    plainFrom = i + 1;
    if (byte == '\r') shown += "\\r";
    else if (byte == '\n') shown += "\\n";
    else if (byte == '\t') shown += "\\t";
    else shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
  }
  shown.append(text, plainFrom);
  return shown;
}

std::string EchoText(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    shown += line[i];
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
  }
  return shown;
}

LogFile::LogFile(bool echo, const platform::Clock& clock) : echo_(echo), clock_(clock) {}

void LogFile::Init(std::string directory, std::string fileName) {
  directory_ = std::move(directory);
  fileName_ = std::move(fileName);
  const auto dot = fileName_.rfind('.');
  if (dot == std::string::npos) {
    baseName_ = extension_ = fileName_;
  } else {
    baseName_ = fileName_.substr(0, dot);
    extension_ = fileName_.substr(dot + 1);
  }
}

std::string LogFile::LiveFilePath() const { return platform::JoinPath(directory_, fileName_); }

void LogFile::Append(std::string_view line) {
  const std::string path = LiveFilePath();
  const platform::Error error = platform::AppendToFile(path, line);
  // The folder was removed while the service runs: make it again, or every later line is lost.
  if (error == platform::kFileNotFound || error == platform::kPathNotFound) {
    platform::CreateDirectory(directory_);
    platform::AppendToFile(path, line);
  }
}

std::string LogFile::Stamp() const {
  std::tm local {};
  platform::ToLocalTime(clock_.Now(), local);
  platform::ZoneInformation zone;
  const bool known = platform::CurrentZone(zone);
  return FormatStamp(local, known ? &zone : nullptr);
}

void LogFile::Log(std::string_view message) {
  const std::lock_guard<std::mutex> hold(lock_.mutex);
  if (sink_) {
    sink_(message);
    return;
  }
  // Appended piece by piece: GCC 12 sees an overlapping copy in "[" + text (-Wrestrict).
  std::string line(1, '[');
  line += Stamp();
  line += "] ";
  line += message;
  line += "\r\n";
  Append(line);
  if (echo_) {
    const std::string shown = EchoText(line);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fflush(stdout);
  }
}

void LogFile::LogFormat(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size(), format, arguments);
  va_end(arguments);
  std::string_view message(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
  // The inserted texts come from outside (names, paths, commands, a program's output): their
  // control characters are shown escaped, so one call stays one line and steers no terminal.
  // The only control character of the service's own formats is a final line feed.
  const std::size_t formatLength = std::strlen(format);
  const bool ownLineFeed = formatLength > 0 && format[formatLength - 1] == '\n' &&
                           !message.empty() && message.back() == '\n';
  if (ownLineFeed) message.remove_suffix(1);
  std::string shown = ShowControlCharacters(message);
  if (ownLineFeed) shown += '\n';
  Log(shown);
}

void LogFile::RollOver() {
  const std::lock_guard<std::mutex> hold(lock_.mutex);
  if (sink_) return;
  const std::int64_t now = clock_.Now();
  std::tm local {};
  if (!platform::ToLocalTime(now, local)) return;
  local.tm_hour = local.tm_min = local.tm_sec = 0;  // tm_isdst stays as the conversion gave it
  const std::int64_t midnight = platform::FromLocalTime(local);
  const std::int64_t limit = midnight - kLogRetentionSeconds;

  std::vector<platform::FileEntry> found;
  platform::FindFiles(LiveFilePath(), found);
  if (!found.empty() && platform::FileTimeToSeconds(found.front().lastWriteTime) < midnight) {
    const std::string date = LocalDate(platform::FileTimeToSeconds(found.front().creationTime));
    platform::RenameFile(platform::JoinPath(directory_, found.front().name),
                         platform::JoinPath(directory_, baseName_ + date + "." + extension_));
  }

  platform::FindFiles(platform::JoinPath(directory_, baseName_ + "*." + extension_), found);
  for (const auto& entry : found) {
    if (platform::FileTimeToSeconds(entry.lastWriteTime) < limit)
      platform::RemoveFile(platform::JoinPath(directory_, entry.name));
  }
}

}  // namespace hvs
