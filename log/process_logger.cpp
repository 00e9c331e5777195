#include "log/process_logger.h"

// The standard streams are set up before anything defined below.
#include <iostream>

namespace n_log {

cpplog::ZmLogger MakeProcessLogger() {
  cpplog::ZmLogger logger;
  logger.add(new cpplog::ZmDbgLogger);
  logger.add(new cpplog::ZmStdLogger);
  return logger;
}

// Defined in this one file so that the tag is built before the logger and
// outlives it. The loggers themselves are never deleted: nothing is written or
// flushed at exit.
std::string logTag = "VOV";
cpplog::ZmLogger processLogger = MakeProcessLogger();

}  // namespace n_log
