// The launcher's own loggers: level filters in front of the debugger output and
// standard error, and the composite that hands each record to them in turn.
#pragma once

#include <any>
#include <vector>

#include "log/cpplog.h"

namespace cpplog {

class ZmFilteringLogger : public FilteringLogger {
 public:
  using FilteringLogger::FilteringLogger;
};

// Every level, to the debugger output. The downstream logger is never deleted:
// it lives until the process ends.
class ZmDbgLogger : public ZmFilteringLogger {
 public:
  ZmDbgLogger();
};

// Every level, to standard error. The downstream logger is never deleted.
class ZmStdLogger : public ZmFilteringLogger {
 public:
  ZmStdLogger();
};

// A kind the composite recognises for a file target; the launcher makes none.
class ZmFileLogger : public ZmFilteringLogger {
 public:
  using ZmFilteringLogger::ZmFilteringLogger;
};

// Hands each record to the loggers of its list, in list order. An entry's kind
// is the type of the pointer it holds, not the type of the object behind it:
// an entry holding a BaseLogger* is never called. The composite owns its
// entries, not the loggers.
class ZmLogger : public BaseLogger {
 public:
  ZmLogger() = default;
  ZmLogger(const ZmLogger&) = delete;
  ZmLogger& operator=(const ZmLogger&) = delete;
  ZmLogger(ZmLogger&&) = default;
  ZmLogger& operator=(ZmLogger&&) = default;

  // Stores the logger as the one of its kind and appends an entry holding it.
  void add(ZmStdLogger* logger);
  void add(ZmDbgLogger* logger);
  void add(ZmFileLogger* logger);
  // Appends an entry as it is, whatever it holds.
  void addEntry(std::any entry) { loggers.push_back(std::move(entry)); }

  // Visits the entries whose kind is switched on. Once a logger answers false
  // no later logger sees the record; the answer is false then. An exception
  // ends the visit with the answer reached before it.
  bool deliver(LogData* data) override;

  ZmStdLogger* stdLogger = nullptr;
  ZmDbgLogger* dbgLogger = nullptr;
  ZmFileLogger* fileLogger = nullptr;
  bool stdOn = true;
  bool dbgOn = true;
  bool fileOn = true;
  std::vector<std::any> loggers;
};

}  // namespace cpplog
