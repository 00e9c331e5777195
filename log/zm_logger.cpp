#include "log/zm_logger.h"

namespace cpplog {
namespace {

// The logger an entry holds when its kind is switched on; null otherwise.
BaseLogger* SelectLogger(const std::any& entry, const ZmLogger& composite) {
  if (composite.stdOn) {
    if (const auto held = std::any_cast<ZmStdLogger*>(&entry)) return *held;
  }
  if (composite.dbgOn) {
    if (const auto held = std::any_cast<ZmDbgLogger*>(&entry)) return *held;
  }
  if (composite.fileOn) {
    if (const auto held = std::any_cast<ZmFileLogger*>(&entry)) return *held;
  }
  return nullptr;
}

}  // namespace

ZmDbgLogger::ZmDbgLogger() : ZmFilteringLogger(kTrace, new OutputDebugStringLogger, false) {}

ZmStdLogger::ZmStdLogger() : ZmFilteringLogger(kTrace, new StdErrLogger, false) {}

void ZmLogger::add(ZmStdLogger* logger) {
  stdLogger = logger;
  loggers.emplace_back(logger);
}

void ZmLogger::add(ZmDbgLogger* logger) {
  dbgLogger = logger;
  loggers.emplace_back(logger);
}

void ZmLogger::add(ZmFileLogger* logger) {
  fileLogger = logger;
  loggers.emplace_back(logger);
}

bool ZmLogger::deliver(LogData* data) {
  bool answer = true;
  try {
    for (const std::any& entry : loggers) {
      BaseLogger* const logger = SelectLogger(entry, *this);
      if (logger == nullptr || !answer) continue;
      answer = logger->deliver(data);
    }
  } catch (...) {
    // The answer still holds what the loggers before the failing one said.
  }
  return answer;
}

}  // namespace cpplog
