// The gateway host's logging helpers. Every line of the plug-in goes to one
// log4cplus logger; the line carries the source file's base name, the line
// number and the function, and reads:
//   <context><function> - <recursion padding><message>
#pragma once

#include <ostream>
#include <sstream>
#include <string>

#include <boost/system/error_code.hpp>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

namespace Oru {

// The logger every line goes to.
log4cplus::Logger& GetGlobalDefaultLogger();

// The text that opens each line: the logging thread.
std::string GetLoggingContext();

// The backtrace of the calling thread, one frame per line, demangled.
std::string GetFullBacktrace();

// Turns a compiler's function signature into the short text shown in lines:
// the return type and template argument lists ("[with ...]") are dropped.
class PrettyFunctionNamePrinter {
public:
    PrettyFunctionNamePrinter(const char* prettyFunction, const char* sourceFile, int line);
    std::string Format() const;

private:
    const char* _prettyFunction;
    const char* _sourceFile;
    int _line;
};

// Written into a line, inserts two blanks per level of logging recursion:
// a line logged while another line of the same thread is being formatted is
// indented beneath it.
struct LoggingRecursionPadding {};
std::ostream& operator<<(std::ostream&, LoggingRecursionPadding);

// Writes values whose plain stream output is unreadable in a log line: a
// byte as its decimal number, an error code as category:value (message).
class LogEntryFormatter {
public:
    explicit LogEntryFormatter(unsigned char byte);
    explicit LogEntryFormatter(const boost::system::error_code& error);
    friend std::ostream& operator<<(std::ostream&, const LogEntryFormatter&);

private:
    std::string _text;
};

// The base name of a source file path, without directory and extension.
std::string SourceBaseName(const char* path);

// One line being built; emitted by Emit(). Holds the recursion level of the
// calling thread while it exists.
class LogLine {
public:
    LogLine(const char* sourceFile, int line, const char* prettyFunction);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    std::ostream& Stream() { return _stream; }
    void Emit(log4cplus::LogLevel level);

private:
    const char* _sourceFile;
    int _line;
    const char* _prettyFunction;
    std::ostringstream _stream;
};

}  // namespace Oru

#define ORU_LOG(level, message)                                                   \
    do {                                                                          \
        if (::Oru::GetGlobalDefaultLogger().isEnabledFor(level)) {                \
            ::Oru::LogLine oruLogLine_(__FILE__, __LINE__, __PRETTY_FUNCTION__);  \
            oruLogLine_.Stream() << ::Oru::LoggingRecursionPadding{} << message;  \
            oruLogLine_.Emit(level);                                              \
        }                                                                         \
    } while (false)

#define ORU_LOG_DEBUG(message) ORU_LOG(::log4cplus::DEBUG_LOG_LEVEL, message)
#define ORU_LOG_INFO(message) ORU_LOG(::log4cplus::INFO_LOG_LEVEL, message)
#define ORU_LOG_WARN(message) ORU_LOG(::log4cplus::WARN_LOG_LEVEL, message)
#define ORU_LOG_ERROR(message) ORU_LOG(::log4cplus::ERROR_LOG_LEVEL, message)
#define ORU_LOG_FATAL(message) ORU_LOG(::log4cplus::FATAL_LOG_LEVEL, message)
