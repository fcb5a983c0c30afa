#include "LogCapture.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include <log4cplus/appender.h>
#include <log4cplus/spi/loggingevent.h>

#include "platform/host/OruLogging.h"

namespace Oru {
namespace Testing {

// Owned by the logger as well as by the capture: a line logged on another
// thread while the capture ends still finds it.
class LogCapture::Appender final : public log4cplus::Appender {
public:
    ~Appender() override { destructorImpl(); }
    void close() override {}

    mutable std::mutex mutex;
    std::vector<LogEntry> entries;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        entries.push_back({event.getLogLevel(), event.getFile(), event.getLine(), event.getFunction(),
                           event.getMessage()});
    }
};

namespace {

// Each capture's appender has its own name, so that two captures alive at
// the same time remove their own appender only.
std::string NextAppenderName()
{
    static std::atomic<unsigned> counter{0};
    return "LogCapture" + std::to_string(counter++);
}

}  // namespace

LogCapture::LogCapture() : _appender(new Appender)
{
    _appender->setName(NextAppenderName());
    GetGlobalDefaultLogger().addAppender(log4cplus::SharedAppenderPtr(_appender.get()));
}

LogCapture::~LogCapture() { GetGlobalDefaultLogger().removeAppender(_appender->getName()); }

std::vector<LogEntry> LogCapture::Entries() const
{
    std::lock_guard<std::mutex> lock(_appender->mutex);
    return _appender->entries;
}

std::vector<std::string> LogCapture::Messages(log4cplus::LogLevel level) const
{
    std::vector<std::string> messages;
    for (const auto& entry : Entries()) {
        if (entry.level == level) {
            messages.push_back(entry.message);
        }
    }
    return messages;
}

std::size_t LogCapture::Count(log4cplus::LogLevel level, const std::string& message) const
{
    const auto entries = Entries();
    return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [&](const LogEntry& entry) {
        return entry.level == level && entry.message == message;
    }));
}

std::size_t LogCapture::CountContaining(const std::string& text) const
{
    const auto entries = Entries();
    return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [&](const LogEntry& entry) {
        return entry.message.find(text) != std::string::npos;
    }));
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(_appender->mutex);
    _appender->entries.clear();
}

}  // namespace Testing
}  // namespace Oru
