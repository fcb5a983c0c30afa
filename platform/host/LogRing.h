// A log4cplus appender that keeps the last lines of the log in memory, with
// what looks like a password or an Authorization header removed, for the
// configuration page's diagnostics download.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <log4cplus/appender.h>

namespace Oru {

class LogRing : public log4cplus::Appender {
public:
    static constexpr std::size_t Capacity = 1000;

    // `observe` sees every message as logged (before anything is removed).
    explicit LogRing(std::function<void(const std::string& message)> observe = {});
    ~LogRing() override;

    void close() override {}

    // The kept lines, oldest first.
    std::vector<std::string> Lines() const;

    // The text with the values of password-like fields ("password=...",
    // "\"credentials\" : \"...\"") and of Authorization headers replaced.
    static std::string Redact(const std::string& text);

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    const std::function<void(const std::string&)> _observe;
    mutable std::mutex _mutex;
    std::deque<std::string> _lines;
};

}  // namespace Oru
