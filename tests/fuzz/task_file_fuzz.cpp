// libFuzzer target: arbitrary bytes as a task definition file, through the real Task::Load.
//
// Each input becomes Config/job.xml of a program directory kept in /dev/shm, and a fresh
// Task loads it with the real context: the block read, the nesting check, the parser, the
// walk, the registry's LastRun, the substitution and a Cron schedule's next time. The registry subkeys and the log
// lines that one input leaves are removed, so inputs do not see each other. Besides, the
// nesting check is compared with the depth of every document the parser accepts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <rapidxml/rapidxml.hpp>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "context/service_context.h"
#include "tasks/task.h"
#include "tasks/xml_nesting.h"
#include "tests/fuzz/fuzz_state.h"
#include "tests/support/registry_tree.h"

namespace {

constexpr const char* kProgramKey = "SOFTWARE\\Sorvane\\HVS";

std::filesystem::path gStateDirectory;
hvs::ServiceContext* gContext = nullptr;

void Fail(const char* what) {
  std::fprintf(stderr, "task_file_fuzz: %s\n", what);
  std::abort();
}

// Deepest element level of a parsed document, walked without recursion.
std::size_t DepthOf(const rapidxml::xml_document<char>& document) {
  std::size_t deepest = 0;
  std::vector<std::pair<const rapidxml::xml_node<char>*, std::size_t>> pending = {{&document, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    for (auto* child = node->first_node(); child; child = child->next_sibling()) {
      if (child->type() != rapidxml::node_element) continue;
      if (depth + 1 > deepest) deepest = depth + 1;
      pending.emplace_back(child, depth + 1);
    }
  }
  return deepest;
}

// Whenever the parser accepts a text, the nesting check must agree with its depth.
void CheckNesting(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));
  // Spares the unguarded parse below a stack overflow when run with a large -max_len.
  if (hvs::FindTooDeepElement(text, 1024) != std::string::npos) return;

  std::string parsed = text;
  rapidxml::xml_document<char> document;
  try {
    document.parse<0>(parsed.data());
  } catch (const rapidxml::parse_error&) {
    return;
  }
  // The check counts open elements; the deepest element may be written as <a/> and open
  // nothing, its parent always opened one.
  const std::size_t depth = DepthOf(document);
  if (hvs::FindTooDeepElement(text, depth) != std::string::npos) Fail("nesting overcounted");
  if (depth > 1 && hvs::FindTooDeepElement(text, depth - 2) == std::string::npos)
    Fail("nesting undercounted");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gStateDirectory = fuzzsupport::UsePrivateStateDirectory("hvs-task-fuzz-", "program");
  gContext = new hvs::ServiceContext((gStateDirectory / "program").string(), false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = platform::JoinPath(gContext->ConfigDirectory(), "job.xml");
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) Fail("cannot write the task file");
  }
  {
    hvs::Task task(*gContext);
    platform::FileEntry match;
    match.name = "job.xml";
    if (task.Load(match, path).has_value() != task.Loaded) Fail("Load's result differs from Loaded");
    if (task.FileName != "job.xml" || task.FilePath != path) Fail("file fields not set");
    // A Cron schedule's next time is the first second at which the task is due.
    if (task.Loaded && task.Cron && task.Enabled) {
      task.Cron->Describe();
      if (const std::optional<std::int64_t> next = task.NextDue())
        if (!task.IsDue(*next) || task.IsDue(*next - 1)) Fail("NextDue is not the first due second");
    }
  }
  CheckNesting(data, size);

  testsupport::DeleteRegistryTree(kProgramKey);
  std::error_code ignored;
  std::filesystem::remove(platform::JoinPath(gContext->LogsDirectory(), "HVS.Log"), ignored);
  return 0;
}
