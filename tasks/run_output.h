// What one run printed: masked, kept in its output file within a bound, and its last lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "tasks/output_masker.h"

namespace hvs {

// The folder of the output files in the log's folder.
inline constexpr std::string_view kOutputFolder = "Output";

// The output file's name of the task file `taskFileName`: without its ".xml" (any case),
// with ".log".
std::string OutputFileName(std::string_view taskFileName);

// Removes each output file in `outputFolder` that was last written before `writtenBefore`
// (seconds since 1970) and whose task file is not among `taskFiles`: the output of a task
// that is gone goes the way of an old log.
void RemoveStaleOutputFiles(const std::string& outputFolder,
                            const std::vector<platform::FileEntry>& taskFiles,
                            std::int64_t writtenBefore);

// One per run, used by the watcher thread alone. The file holds all of the output up to
// kKeptBytes; past that, the first kHeadBytes, one line saying how many bytes were left
// out, and the last kTailBytes. A file that cannot be made or written costs the output,
// never the run: error() then tells why.
class RunOutput {
 public:
  static constexpr std::size_t kHeadBytes = 512 * 1024;
  static constexpr std::size_t kTailBytes = 512 * 1024;
  static constexpr std::size_t kKeptBytes = kHeadBytes + kTailBytes;
  static constexpr std::size_t kLastLines = 5;
  static constexpr std::size_t kLineBytes = 200;

  // Replaces the file at `path` with an empty one, making its folder (and that folder's
  // parent) when missing.
  RunOutput(std::string path, OutputMasker masker);
  RunOutput(const RunOutput&) = delete;
  RunOutput& operator=(const RunOutput&) = delete;

  // Takes the next piece of what the run wrote.
  void Take(std::string_view piece);
  // Writes what is held back and closes the file. Call once, after the last Take.
  void Finish();
  // Records that the output could not be taken (no pipe): `error`, unless one came first.
  void Lose(platform::Error error) {
    if (error_ == platform::kSuccess) error_ = error;
  }

  const std::string& path() const { return path_; }
  // The first failure of the file; 0 when all was written.
  platform::Error error() const { return error_; }
  // After Finish: the output's last lines without their line ends, each cut at kLineBytes
  // (never inside a UTF-8 character), at most kLastLines; a last line without its end
  // counts. Masked, as the file.
  std::vector<std::string> LastLines() const;

 private:
  // Keeps masked text: into the file while the head has room, else into the tail ring.
  void Keep(std::string_view text);
  void Write(std::string_view text);
  void NoteLines(std::string_view text);

  std::string path_;
  OutputMasker masker_;
  platform::OutputFile file_;
  platform::Error error_ = platform::kSuccess;
  OutputMasker::Sink keep_;      // Keep, for the masker
  std::size_t headWritten_ = 0;  // bytes given to the file as the head
  bool headEndsLine_ = true;
  std::string tail_;             // ring of the bytes after the head; grows up to kTailBytes
  std::size_t tailStart_ = 0;    // oldest byte of a full ring
  std::uint64_t leftOut_ = 0;    // bytes pushed out of the ring
  std::deque<std::string> lines_;
  std::string line_;             // the line under way, cut at kLineBytes
};

}  // namespace hvs
