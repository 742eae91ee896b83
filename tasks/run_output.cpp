// The bounded, masked output file of one run and its last lines.
#include "tasks/run_output.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/strings.h"

namespace hvs {

namespace {

// `path`'s folder, and that folder's parent, so that a removed Logs folder comes back.
void MakeFolders(const std::string& path) {
  const std::size_t folderEnd = path.find_last_of(platform::PathSeparator());
  if (folderEnd == std::string::npos) return;
  const std::string folder = path.substr(0, folderEnd);
  if (platform::CreateDirectory(folder) != platform::kPathNotFound) return;
  const std::size_t parentEnd = folder.find_last_of(platform::PathSeparator());
  if (parentEnd != std::string::npos) platform::CreateDirectory(folder.substr(0, parentEnd));
  platform::CreateDirectory(folder);
}

// `line` cut at `limit` bytes, backing off so that no UTF-8 character is split.
void CutLine(std::string& line, std::size_t limit) {
  if (line.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  line.resize(end);
}

}  // namespace

std::string OutputFileName(std::string_view taskFileName) {
  constexpr std::string_view kTaskExtension = ".XML";
  if (taskFileName.size() >= kTaskExtension.size() &&
      platform::ToUpperCase(taskFileName.substr(taskFileName.size() - kTaskExtension.size())) ==
          kTaskExtension)
    taskFileName.remove_suffix(kTaskExtension.size());
  return std::string(taskFileName) + ".log";
}

void RemoveStaleOutputFiles(const std::string& outputFolder,
                            const std::vector<platform::FileEntry>& taskFiles,
                            std::int64_t writtenBefore) {
  std::vector<platform::FileEntry> outputs;
  platform::FindFiles(platform::JoinPath(outputFolder, "*.log"), outputs);
  for (const platform::FileEntry& output : outputs) {
    if (output.isDirectory || platform::FileTimeToSeconds(output.lastWriteTime) >= writtenBefore)
      continue;
    const bool taskThere = std::any_of(taskFiles.begin(), taskFiles.end(), [&](const auto& file) {
      return platform::ToUpperCase(OutputFileName(file.name)) == platform::ToUpperCase(output.name);
    });
    if (!taskThere) platform::RemoveFile(platform::JoinPath(outputFolder, output.name));
  }
}

RunOutput::RunOutput(std::string path, OutputMasker masker)
    : path_(std::move(path)),
      masker_(std::move(masker)),
      keep_([this](std::string_view text) { Keep(text); }) {
  MakeFolders(path_);
  error_ = file_.Create(path_);
}

void RunOutput::Take(std::string_view piece) { masker_.Feed(piece, keep_); }

void RunOutput::Finish() {
  masker_.Finish(keep_);
  if (!line_.empty()) lines_.push_back(line_);
  while (lines_.size() > kLastLines) lines_.pop_front();
  if (leftOut_ > 0) {
    Write((headEndsLine_ ? "" : "\n") + std::string("[... ") + std::to_string(leftOut_) +
          " bytes left out ...]\n");
    Write(std::string_view(tail_).substr(tailStart_));
    Write(std::string_view(tail_).substr(0, tailStart_));
  } else {
    Write(tail_);
  }
  file_.Close();
}

std::vector<std::string> RunOutput::LastLines() const {
  std::vector<std::string> lines(lines_.begin(), lines_.end());
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    CutLine(line, kLineBytes);
  }
  return lines;
}

void RunOutput::Keep(std::string_view text) {
  if (text.empty()) return;
  NoteLines(text);
  const std::size_t toHead = std::min(text.size(), kHeadBytes - headWritten_);
  if (toHead > 0) {
    Write(text.substr(0, toHead));
    headWritten_ += toHead;
    headEndsLine_ = text[toHead - 1] == '\n';
    text.remove_prefix(toHead);
  }
  if (text.size() >= kTailBytes) {
    // The ring is refilled whole: everything in it now, and what precedes the last
    // kTailBytes of `text`, is left out.
    leftOut_ += tail_.size() + (text.size() - kTailBytes);
    tail_.assign(text.substr(text.size() - kTailBytes));
    tailStart_ = 0;
    return;
  }
  const std::size_t room = kTailBytes - tail_.size();
  const std::size_t appended = std::min(room, text.size());
  tail_.append(text.substr(0, appended));
  text.remove_prefix(appended);
  // The ring is full: each new byte takes the place of the oldest.
  while (!text.empty()) {
    const std::size_t step = std::min(text.size(), kTailBytes - tailStart_);
    std::copy_n(text.data(), step, tail_.data() + tailStart_);
    leftOut_ += step;
    tailStart_ = (tailStart_ + step) % kTailBytes;
    text.remove_prefix(step);
  }
}

void RunOutput::Write(std::string_view text) {
  if (error_ != platform::kSuccess || text.empty()) return;
  error_ = file_.Write(text);
}

void RunOutput::NoteLines(std::string_view text) {
  // Only the last kLastLines lines can stay: the text up to the line end before them, and
  // every line noted before it, go at once.
  std::size_t lineEnds = 0;
  for (std::size_t end = text.size(); end > 0;) {
    end = text.rfind('\n', end - 1);
    if (end == std::string_view::npos) break;
    if (++lineEnds > kLastLines) {
      lines_.clear();
      line_.clear();
      text.remove_prefix(end + 1);
      break;
    }
  }
  for (;;) {
    const std::size_t end = text.find('\n');
    const std::string_view part = text.substr(0, end);
    // One byte past the cut, so that a cut line can back off a split character.
    if (line_.size() <= kLineBytes)
      line_.append(part.substr(0, kLineBytes + 1 - line_.size()));
    if (end == std::string_view::npos) return;
    lines_.push_back(std::move(line_));
    line_.clear();
    if (lines_.size() > kLastLines) lines_.pop_front();
    text.remove_prefix(end + 1);
  }
}

}  // namespace hvs
