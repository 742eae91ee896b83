// The reference for the cost of taking a task's output: writes text to standard output and
// records how long the writing took, measured inside the writer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// 64 KiB of text made once: the cost of the writes alone.
void WriteBlocks(long mebibytes) {
  std::string block;
  for (int line = 0; block.size() < 64 * 1024 - 64; ++line)
    block += "plug-in progress line " + std::to_string(line) + ": 42 records read, 0 failed\n";
  block.resize(64 * 1024, '.');
  for (long i = 0; i < mebibytes * 16; ++i)
    if (std::fwrite(block.data(), 1, block.size(), stdout) != block.size()) std::exit(1);
}

// One formatted line at a time, as a program that reports its progress writes.
void WriteLines(long mebibytes) {
  const long long total = mebibytes * 1024LL * 1024LL;
  long long written = 0;
  for (long line = 0; written < total; ++line) {
    const int count = std::printf("plug-in progress line %ld: %ld records read, 0 failed\n",
                                  line, line * 42 % 100000);
    if (count < 0) std::exit(1);
    written += count;
  }
}

}  // namespace

// Usage: hvs_output_writer blocks|lines MEBIBYTES RESULT_FILE [ANY...]: the nanoseconds of
// the writing go to RESULT_FILE.
int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: hvs_output_writer blocks|lines MEBIBYTES RESULT_FILE\n");
    return 2;
  }
  const long mebibytes = std::strtol(argv[2], nullptr, 10);
  const auto started = std::chrono::steady_clock::now();
  if (std::strcmp(argv[1], "lines") == 0) WriteLines(mebibytes);
  else WriteBlocks(mebibytes);
  std::fflush(stdout);
  const auto took = std::chrono::steady_clock::now() - started;
  std::FILE* result = std::fopen(argv[3], "w");
  if (result == nullptr) return 1;
  std::fprintf(result, "%lld\n", static_cast<long long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()));
  return std::fclose(result) == 0 ? 0 : 1;
}
