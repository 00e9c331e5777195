// The launcher's record: a message whose header is the log tag, the level's
// letter and the UTC time the record started, e.g.
// "[VOV][I][2026-12-7 19:59:5] ".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "log/cpplog.h"

namespace n_log {

// The header for a record of this level started at this UTC time. Numbers go
// without leading zeros.
std::string FormatSystemHeader(const std::string& tag, cpplog::LogLevel level, const std::tm& utc);

class CustomLogMessage : public cpplog::LogMessage {
 public:
  // The function name is kept with the message; no header prints it.
  CustomLogMessage(const char* sourcePath, std::uint32_t line, cpplog::LogLevel level,
                   cpplog::BaseLogger& receiver, const char* function);

  void writeHeader() override;

  const char* getFunctionName() const { return functionName; }

 private:
  const char* functionName;
};

}  // namespace n_log
