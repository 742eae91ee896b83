// What one task file says: the elements it gave, each knowing whether it was there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "log/log_file.h"
#include "tasks/cron_expression.h"

namespace hvs {

// An element the file left out is empty; a reload keeps the task's value for it.
struct TaskDefinition {
  std::optional<std::string> name;
  std::optional<std::string> command;
  std::optional<std::int32_t> waitPeriodSeconds;
  std::optional<bool> forceKill;
  std::optional<std::int32_t> timeLimitSeconds;  // 0 or less: none, not even the default
  std::optional<CronExpression> cron;            // Schedule/Cron, parsed
  std::optional<std::string> enabled;            // as written; exactly "false" switches off
  std::optional<std::int32_t> retryAfterSeconds;
  std::optional<std::int32_t> retryCount;
};

// The definition in `text`, a task file's bytes; `path` names the file in messages. Logs
// every unknown element and a parse error (with its byte offset) to `messages`, which a
// caller that wants them elsewhere diverts. Empty when the text does not parse, holds no
// element (that one silently) or has a Cron expression that does not parse.
std::optional<TaskDefinition> ParseTaskDefinition(std::string text, const std::string& path,
                                                  LogFile& messages);

// The file at `path`, read whole and parsed; empty with the reason logged when it cannot
// be opened or read, is no regular file or is larger than 1 MiB.
std::optional<TaskDefinition> ReadTaskDefinition(const std::string& path, LogFile& messages);

}  // namespace hvs
