// Records every line logged through the host logger while it exists.
#pragma once

#include <string>
#include <vector>

#include <log4cplus/helpers/pointer.h>
#include <log4cplus/loglevel.h>

namespace Oru {
namespace Testing {

struct LogEntry {
    log4cplus::LogLevel level;
    std::string source;    // file base name
    int line;
    std::string function;  // as the line shows it
    std::string message;   // the text after "function - "
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> Entries() const;
    // The messages of one level, in order.
    std::vector<std::string> Messages(log4cplus::LogLevel level) const;
    // How many lines of that level have exactly this message.
    std::size_t Count(log4cplus::LogLevel level, const std::string& message) const;
    // How many lines of any level contain the text.
    std::size_t CountContaining(const std::string& text) const;
    void Clear();

    class Appender;

private:
    log4cplus::helpers::SharedObjectPtr<Appender> _appender;
};

}  // namespace Testing
}  // namespace Oru
