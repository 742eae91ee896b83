// The reference for the cost of taking a task's output: writes text lines to standard output
// and records how long the writing took, measured inside the writer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

// Usage: hvs_output_writer MEBIBYTES RESULT_FILE [ANY...]: the nanoseconds go to RESULT_FILE.
int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: hvs_output_writer MEBIBYTES RESULT_FILE\n");
    return 2;
  }
  const long mebibytes = std::strtol(argv[1], nullptr, 10);
  std::string block;
  for (int line = 0; block.size() < 64 * 1024 - 64; ++line)
    block += "plug-in progress line " + std::to_string(line) + ": 42 records read, 0 failed\n";
  block.resize(64 * 1024, '.');
  const auto started = std::chrono::steady_clock::now();
  for (long i = 0; i < mebibytes * 16; ++i)
    if (std::fwrite(block.data(), 1, block.size(), stdout) != block.size()) return 1;
  std::fflush(stdout);
  const auto took = std::chrono::steady_clock::now() - started;
  std::FILE* result = std::fopen(argv[2], "w");
  if (result == nullptr) return 1;
  std::fprintf(result, "%lld\n",
               static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()));
  return std::fclose(result) == 0 ? 0 : 1;
}
