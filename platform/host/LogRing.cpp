#include "LogRing.h"

#include <ctime>
#include <regex>

#include <log4cplus/helpers/timehelper.h>
#include <log4cplus/spi/loggingevent.h>

namespace Oru {

LogRing::LogRing(std::function<void(const std::string&)> observe) : _observe(std::move(observe)) {}

LogRing::~LogRing() { destructorImpl(); }

std::vector<std::string> LogRing::Lines() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return {_lines.begin(), _lines.end()};
}

std::string LogRing::Redact(const std::string& text)
{
    static const std::regex authorization(R"((authorization\s*[:=]\s*)(\S+\s+)?\S+)", std::regex::icase);
    static const std::regex field(R"(((?:password|passwd|passphrase|secret|credentials|token)\w*"?'?\s*[:=]\s*)("[^"]*"|'[^']*'|[^\s,;}]+))",
                                  std::regex::icase);
    return std::regex_replace(std::regex_replace(text, authorization, "$1(removed)"), field, "$1(removed)");
}

void LogRing::append(const log4cplus::spi::InternalLoggingEvent& event)
{
    constexpr std::size_t LongestKept = 2000;
    const std::string message = event.getMessage();
    if (_observe) {
        _observe(message);
    }
    const auto time = log4cplus::helpers::to_time_t(event.getTimestamp());
    std::tm local{};
    localtime_r(&time, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string line = std::string(stamp) + " " + log4cplus::getLogLevelManager().toString(event.getLogLevel()) + " " +
                             event.getFunction() + " - " + Redact(message.substr(0, LongestKept)) + " (" + event.getFile() + ":" +
                             std::to_string(event.getLine()) + ")";
    std::lock_guard<std::mutex> lock(_mutex);
    _lines.push_back(line);
    if (_lines.size() > Capacity) {
        _lines.pop_front();
    }
}

}  // namespace Oru
