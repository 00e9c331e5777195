#include "log/custom_log_message.h"

#include <sstream>

#include "log/process_logger.h"

namespace n_log {

std::string FormatSystemHeader(const std::string& tag, cpplog::LogLevel level, const std::tm& utc) {
  std::ostringstream header;
  header << "[" << tag << "][" << cpplog::LevelLetter(level) << "][" << utc.tm_year + 1900 << "-"
         << utc.tm_mon + 1 << "-" << utc.tm_mday << " " << utc.tm_hour << ":" << utc.tm_min << ":"
         << utc.tm_sec << "] ";
  return header.str();
}

CustomLogMessage::CustomLogMessage(const char* sourcePath, std::uint32_t line,
                                   cpplog::LogLevel level, cpplog::BaseLogger& receiver,
                                   const char* function)
    : LogMessage(sourcePath, line, level, receiver, NoHeader()), functionName(function) {
  CustomLogMessage::writeHeader();
}

void CustomLogMessage::writeHeader() {
  const std::string header = FormatSystemHeader(logTag, data->level, data->utc);
  data->out << header;
  data->headerLength = static_cast<std::uint32_t>(header.size());
}

}  // namespace n_log
