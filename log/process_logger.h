// The launcher's one process-wide logger and the tag its records start with.
// Both are built by static initialisation before wWinMain runs, the tag first;
// every record goes to the debugger output and then to standard error.
#pragma once

#include <string>

#include "log/custom_log_message.h"
#include "log/zm_logger.h"

namespace n_log {

extern std::string logTag;
extern cpplog::ZmLogger processLogger;

// A composite with a debugger-output filter and then a standard-error filter,
// both passing every level, every kind switched on.
cpplog::ZmLogger MakeProcessLogger();

}  // namespace n_log

// One INFO record to the process logger, delivered when the statement ends:
//   LAUNCHER_LOG_INFO << L"par: " << parameters;
// Wide text is converted to the narrow log text.
#define LAUNCHER_LOG_INFO                                                                   \
  ::n_log::CustomLogMessage(__FILE__, __LINE__, ::cpplog::kInfo, ::n_log::processLogger, \
                            __func__)
