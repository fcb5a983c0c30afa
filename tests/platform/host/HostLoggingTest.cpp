#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>

#include "tests/testing/LogCapture.h"
#include "platform/host/OruLogging.h"
#include "support/Assert.h"

using Oru::Testing::LogCapture;
using ::testing::ElementsAre;

namespace {

// GCC's __PRETTY_FUNCTION__ signatures, as return type + shown name +
// template arguments. Operator names once lost their symbol or conversion type.
TEST(HostLogging, FunctionNamesDropTheReturnTypeAndTheTemplateArguments)
{
    const struct {
        const char *returned, *shown, *arguments;
    } cases[] = {
        {"int ", "{anonymous}::Widget::Method(int, const std::string&) const", ""},
        {"", "{anonymous}::Widget::operator bool() const", ""},
        {"bool ", "{anonymous}::Widget::operator<(const {anonymous}::Widget&) const", ""},
        {"void ", "{anonymous}::Widget::operator()(int) const", ""},
        {"static std::map<int, std::__cxx11::basic_string<char> > ", "{anonymous}::Widget::Table(std::string&)", ""},
        {"T ", "{anonymous}::Identity(T, std::string&)",
         " [with T = int; std::string = std::__cxx11::basic_string<char>]"},
        {"", "{anonymous}::Lambda<int>()::<lambda(int)>", ""},
        {"std::ostream& ", "Oru::operator<<(std::ostream&, const Oru::LogEntryFormatter&)", ""},
    };
    for (const auto& c : cases) {
        const std::string signature = std::string(c.returned) + c.shown + c.arguments;
        EXPECT_EQ(c.shown, Oru::PrettyFunctionNamePrinter(signature.c_str(), __FILE__, __LINE__).Format()) << signature;
    }
    // Without a signature: the source place.
    EXPECT_EQ("Widget:17", Oru::PrettyFunctionNamePrinter(nullptr, "/src/rooms/Widget.cpp", 17).Format());
    EXPECT_EQ("Widget:18", Oru::PrettyFunctionNamePrinter("", "Widget.cpp", 18).Format());
    // The source base name drops the directory and the last extension only
    // (it once lost everything after the first dot).
    std::string names;
    for (const char* path : {"/src/System.cpp", "Log.h", "/dot.dir/Makefile", "a/Widget.test.cpp", "/.hidden"}) {
        names += Oru::SourceBaseName(path) + ' ';
    }
    EXPECT_EQ("System Log Makefile Widget.test .hidden ", names);
}

TEST(LogEntryFormatter, WritesBytesAsNumbersAndErrorCodesWithCategoryValueAndMessage)
{
    std::ostringstream text;
    text << Oru::LogEntryFormatter(static_cast<unsigned char>(0)) << '|'
         << Oru::LogEntryFormatter(static_cast<unsigned char>(255)) << '|'
         << Oru::LogEntryFormatter(boost::system::error_code()) << '|'
         << Oru::LogEntryFormatter(boost::system::error_code(boost::asio::error::operation_aborted)) << '|'
         << Oru::LogEntryFormatter(boost::system::error_code(boost::asio::error::eof));
    EXPECT_EQ("0|255|system:0 (Success)|system:125 (Operation canceled)|asio.misc:2 (End of file)", text.str());
}

int LoggedLine = 0;

void LogFromHelper()
{
    LoggedLine = __LINE__ + 1;
    ORU_LOG_WARN("from helper " << 42 << ' ' << Oru::LogEntryFormatter(static_cast<unsigned char>(9)));
}

TEST(HostLogging, ALineCarriesLevelSourceLineFunctionAndMessage)
{
    const LogCapture capture;
    LogFromHelper();
    const int line = __LINE__ + 1;
    ORU_NOT_IMPLEMENTED();
    const auto entries = capture.Entries();
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(log4cplus::WARN_LOG_LEVEL, entries[0].level);
    EXPECT_EQ("HostLoggingTest", entries[0].source);
    EXPECT_EQ(LoggedLine, entries[0].line);
    EXPECT_EQ("{anonymous}::LogFromHelper()", entries[0].function);
    EXPECT_EQ("from helper 42 9", entries[0].message);
    // An operation that is not offered logs its place at fatal level and goes on.
    EXPECT_EQ(log4cplus::FATAL_LOG_LEVEL, entries[1].level);
    EXPECT_EQ(line, entries[1].line);
    EXPECT_EQ("Something is not implemented here (HostLoggingTest:" + std::to_string(line) + ")", entries[1].message);
    EXPECT_THAT(Oru::GetLoggingContext(), ::testing::MatchesRegex("\\[[0-9]+\\] "));
}

// Counts how often a message is formatted.
struct CountedFormatting {
    int& count;
};
std::ostream& operator<<(std::ostream& stream, const CountedFormatting& counted)
{
    ++counted.count;
    return stream << "counted";
}

// The service runs at info: its debug lines must cost no formatting.
TEST(HostLogging, LinesBelowTheLoggersLevelAreNeitherFormattedNorWritten)
{
    const LogCapture capture;
    auto& logger = Oru::GetGlobalDefaultLogger();
    const auto level = logger.getLogLevel();
    logger.setLogLevel(log4cplus::INFO_LOG_LEVEL);
    int count = 0;
    ORU_LOG_DEBUG(CountedFormatting{count});
    ORU_LOG_INFO(CountedFormatting{count});
    logger.setLogLevel(level);
    EXPECT_EQ(1, count);
    EXPECT_EQ(std::vector<std::string>{}, capture.Messages(log4cplus::DEBUG_LOG_LEVEL));
    EXPECT_EQ(std::vector<std::string>{"counted"}, capture.Messages(log4cplus::INFO_LOG_LEVEL));
}

int InnermostLine()
{
    ORU_LOG_INFO("innermost");
    return 1;
}

int InnerLine()
{
    ORU_LOG_INFO("inner " << InnermostLine());
    return 2;
}

TEST(HostLogging, ALineLoggedWhileAnotherIsFormattedIsIndented)
{
    const LogCapture capture;
    ORU_LOG_INFO("outer " << InnerLine());
    ORU_LOG_INFO("after");
    EXPECT_THAT(capture.Messages(log4cplus::INFO_LOG_LEVEL),
                ElementsAre("    innermost", "  inner 1", "outer 2", "after"));
}

}  // namespace
