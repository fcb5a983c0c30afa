#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>

#include "LogCapture.h"
#include "OruLogging.h"
#include "support/Assert.h"

using Oru::Testing::LogCapture;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Functions of every shape, each reporting its compiler signature.
class Widget {
public:
    explicit Widget(std::string& signature) { signature = __PRETTY_FUNCTION__; }
    int Method(int value, const std::string&) const
    {
        _last = __PRETTY_FUNCTION__;
        return value;
    }
    explicit operator bool() const
    {
        _last = __PRETTY_FUNCTION__;
        return true;
    }
    bool operator<(const Widget&) const
    {
        _last = __PRETTY_FUNCTION__;
        return false;
    }
    void operator()(int) const { _last = __PRETTY_FUNCTION__; }
    static std::map<int, std::string> Table(std::string& signature)
    {
        signature = __PRETTY_FUNCTION__;
        return {};
    }
    const std::string& Last() const { return _last; }

private:
    mutable std::string _last;
};

template <typename T>
T Identity(T value, std::string& signature)
{
    signature = __PRETTY_FUNCTION__;
    return value;
}

const char* PointerReturning(std::string& signature)
{
    signature = __PRETTY_FUNCTION__;
    return "";
}

std::string LambdaSignature()
{
    std::string signature;
    const auto lambda = [&signature](int value) {
        signature = __PRETTY_FUNCTION__;
        return value;
    };
    lambda(1);
    return signature;
}

std::string Shortened(const std::string& signature)
{
    return Oru::PrettyFunctionNamePrinter(signature.c_str(), __FILE__, __LINE__).Format();
}

TEST(PrettyFunctionNamePrinter, DropsTheReturnTypeAndTheTemplateArguments)
{
    std::string constructor;
    const Widget widget(constructor);
    widget.Method(1, "");
    const std::string method = widget.Last();
    static_cast<void>(static_cast<bool>(widget));
    const std::string conversion = widget.Last();
    static_cast<void>(widget < widget);
    const std::string less = widget.Last();
    widget(2);
    const std::string call = widget.Last();
    std::string table;
    Widget::Table(table);
    std::string identity;
    Identity(5, identity);
    std::string pointer;
    PointerReturning(pointer);

    struct Case {
        std::string signature;
        const char* shown;
    };
    const Case cases[] = {
        {constructor, "{anonymous}::Widget::Widget(std::string&)"},
        {method, "{anonymous}::Widget::Method(int, const std::string&) const"},
        {conversion, "{anonymous}::Widget::operator bool() const"},
        {less, "{anonymous}::Widget::operator<(const {anonymous}::Widget&) const"},
        {call, "{anonymous}::Widget::operator()(int) const"},
        {table, "{anonymous}::Widget::Table(std::string&)"},
        {identity, "{anonymous}::Identity(T, std::string&)"},
        {pointer, "{anonymous}::PointerReturning(std::string&)"},
        {LambdaSignature(), "{anonymous}::LambdaSignature()::<lambda(int)>"},
        {"Oru::OperatingSystem::OperatingSystem(Oru::UTF8Span)", "Oru::OperatingSystem::OperatingSystem(Oru::UTF8Span)"},
        {"std::ostream& Oru::operator<<(std::ostream&, const Oru::LogEntryFormatter&)",
         "Oru::operator<<(std::ostream&, const Oru::LogEntryFormatter&)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.shown, Shortened(c.signature)) << c.signature;
    }
}

TEST(PrettyFunctionNamePrinter, WithoutASignatureShowsTheSourcePlace)
{
    EXPECT_EQ("Widget:17", Oru::PrettyFunctionNamePrinter(nullptr, "/src/rooms/Widget.cpp", 17).Format());
    EXPECT_EQ("Widget:18", Oru::PrettyFunctionNamePrinter("", "Widget.cpp", 18).Format());
}

TEST(SourceBaseName, DropsDirectoryAndExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/work/main/support/OperatingSystem.cpp", "OperatingSystem"},
        {"support/UTF8Span.h", "UTF8Span"},
        {"Function.h", "Function"},
        {"/dir.with.dots/Makefile", "Makefile"},
        {"tests/Widget.test.cpp", "Widget.test"},
        {"/etc/.hidden", ".hidden"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Oru::SourceBaseName(c.first)) << c.first;
    }
}

TEST(LogEntryFormatter, WritesBytesAsNumbers)
{
    const std::pair<unsigned char, const char*> cases[] = {{0, "0"}, {7, "7"}, {65, "65"}, {255, "255"}};
    for (const auto& c : cases) {
        std::ostringstream text;
        text << Oru::LogEntryFormatter(c.first);
        EXPECT_EQ(c.second, text.str());
    }
}

TEST(LogEntryFormatter, WritesErrorCodesWithCategoryValueAndMessage)
{
    const std::pair<boost::system::error_code, const char*> cases[] = {
        {boost::system::error_code(), "system:0 (Success)"},
        {boost::asio::error::operation_aborted, "system:125 (Operation canceled)"},
        {boost::asio::error::connection_refused, "system:111 (Connection refused)"},
        {boost::asio::error::eof, "asio.misc:2 (End of file)"},
    };
    for (const auto& c : cases) {
        std::ostringstream text;
        text << Oru::LogEntryFormatter(c.first);
        EXPECT_EQ(c.second, text.str());
    }
}

int LoggedLine = 0;

void LogFromHelper()
{
    LoggedLine = __LINE__ + 1;
    ORU_LOG_WARN("from helper " << 42 << ' ' << Oru::LogEntryFormatter(static_cast<unsigned char>(9)));
}

TEST(LogCapture, RecordsLevelSourceLineFunctionAndMessage)
{
    const LogCapture capture;
    LogFromHelper();
    const auto entries = capture.Entries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(log4cplus::WARN_LOG_LEVEL, entries[0].level);
    EXPECT_EQ("HostLoggingTest", entries[0].source);
    EXPECT_EQ(LoggedLine, entries[0].line);
    EXPECT_EQ("{anonymous}::LogFromHelper()", entries[0].function);
    EXPECT_EQ("from helper 42 9", entries[0].message);
}

TEST(LogCapture, RecordsEveryLevel)
{
    const LogCapture capture;
    ORU_LOG_DEBUG("debug " << 1);
    ORU_LOG_INFO("info " << 2);
    ORU_LOG_WARN("warn " << 3);
    ORU_LOG_ERROR("error " << 4);
    ORU_LOG_FATAL("fatal " << 5);
    std::vector<std::pair<log4cplus::LogLevel, std::string>> recorded;
    for (const auto& entry : capture.Entries()) {
        recorded.emplace_back(entry.level, entry.message);
    }
    EXPECT_THAT(recorded, ElementsAre(std::make_pair(log4cplus::DEBUG_LOG_LEVEL, "debug 1"),
                                      std::make_pair(log4cplus::INFO_LOG_LEVEL, "info 2"),
                                      std::make_pair(log4cplus::WARN_LOG_LEVEL, "warn 3"),
                                      std::make_pair(log4cplus::ERROR_LOG_LEVEL, "error 4"),
                                      std::make_pair(log4cplus::FATAL_LOG_LEVEL, "fatal 5")));
    EXPECT_EQ(1u, capture.Count(log4cplus::ERROR_LOG_LEVEL, "error 4"));
    EXPECT_EQ(0u, capture.Count(log4cplus::WARN_LOG_LEVEL, "error 4"));
    EXPECT_EQ(5u, capture.CountContaining(" "));
    EXPECT_THAT(capture.Messages(log4cplus::INFO_LOG_LEVEL), ElementsAre("info 2"));
}

TEST(LogCapture, TwoCapturesAliveTogetherEachSeeTheLinesOfTheirLifetime)
{
    auto outer = std::make_unique<LogCapture>();
    ORU_LOG_INFO("first");
    {
        const LogCapture inner;
        ORU_LOG_INFO("second");
        EXPECT_THAT(inner.Messages(log4cplus::INFO_LOG_LEVEL), ElementsAre("second"));
    }
    ORU_LOG_INFO("third");
    EXPECT_THAT(outer->Messages(log4cplus::INFO_LOG_LEVEL), ElementsAre("first", "second", "third"));
}

int InnermostLine()
{
    ORU_LOG_DEBUG("innermost");
    return 1;
}

int InnerLine()
{
    ORU_LOG_DEBUG("inner " << InnermostLine());
    return 2;
}

TEST(LoggingRecursionPadding, ALineLoggedWhileAnotherIsFormattedIsIndented)
{
    const LogCapture capture;
    ORU_LOG_INFO("outer " << InnerLine());
    ORU_LOG_INFO("after");
    std::vector<std::string> messages;
    for (const auto& entry : capture.Entries()) {
        messages.push_back(entry.message);
    }
    EXPECT_THAT(messages, ElementsAre("    innermost", "  inner 1", "outer 2", "after"));
}

TEST(NotImplemented, LogsItsPlaceAtFatalLevelAndGoesOn)
{
    const LogCapture capture;
    const int line = __LINE__ + 1;
    ORU_NOT_IMPLEMENTED();
    const auto entries = capture.Entries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(log4cplus::FATAL_LOG_LEVEL, entries[0].level);
    EXPECT_EQ("HostLoggingTest", entries[0].source);
    EXPECT_EQ(line, entries[0].line);
    EXPECT_EQ("Something is not implemented here (HostLoggingTest:" + std::to_string(line) + ")", entries[0].message);
}

TEST(HostLogging, ContextAndBacktraceAreText)
{
    EXPECT_THAT(Oru::GetLoggingContext(), StartsWith("["));
    const std::string backtrace = Oru::GetFullBacktrace();
    EXPECT_THAT(backtrace, StartsWith("\n  #0 "));
    EXPECT_THAT(backtrace, HasSubstr("\n  #1 "));
}

}  // namespace
