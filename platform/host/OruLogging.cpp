#include "OruLogging.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <log4cplus/consoleappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

namespace Oru {
namespace {

thread_local int t_recursionDepth = 0;

// <time> <level> <context><function> - <message> (<source>:<line>)
class HostLogLayout : public log4cplus::Layout {
public:
    void formatAndAppend(log4cplus::tostream& output,
                         const log4cplus::spi::InternalLoggingEvent& event) override
    {
        const auto time = log4cplus::helpers::to_time_t(event.getTimestamp());
        std::tm local{};
        localtime_r(&time, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        output << stamp << ' ' << llmCache.toString(event.getLogLevel()) << ' '
               << GetLoggingContext() << event.getFunction() << " - " << event.getMessage()
               << " (" << event.getFile() << ':' << event.getLine() << ")\n";
    }
};

log4cplus::Logger& CreateGlobalLogger()
{
    static log4cplus::Initializer initializer;
    static log4cplus::Logger logger = log4cplus::Logger::getInstance("Oru");
    log4cplus::SharedAppenderPtr console(new log4cplus::ConsoleAppender(true, true));
    console->setLayout(std::unique_ptr<log4cplus::Layout>(new HostLogLayout));
    logger.addAppender(console);
    logger.setAdditivity(false);
    logger.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    return logger;
}

std::string Demangle(const char* mangled)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

bool IsIdentifierCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// True when the keyword "operator" starts at position i of text.
bool IsOperatorKeywordAt(const std::string& text, std::size_t i)
{
    static const std::string keyword = "operator";
    return text.compare(i, keyword.size(), keyword) == 0 && (i == 0 || !IsIdentifierCharacter(text[i - 1])) &&
           (i + keyword.size() == text.size() || !IsIdentifierCharacter(text[i + keyword.size()]));
}

// Drops "[with T = ...]" and the leading return type of a signature.
std::string ShortenSignature(const std::string& signature)
{
    std::string text = signature.substr(0, signature.find(" [with "));
    // The name starts after the last blank that lies outside of any bracket
    // before the opening parenthesis of the parameter list. An operator's
    // symbol ("<", "()") or conversion type ("operator bool") is part of the
    // name, so the scan ends when it meets the keyword.
    int depth = 0;
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '(' && depth == 0) || (depth == 0 && IsOperatorKeywordAt(text, i))) {
            break;
        }
        if (c == '<' || c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if ((c == '>' || c == ')' || c == ']' || c == '}') && depth > 0) {
            --depth;
        } else if (c == ' ' && depth == 0) {
            nameStart = i + 1;
        }
    }
    return text.substr(nameStart);
}

}  // namespace

log4cplus::Logger& GetGlobalDefaultLogger()
{
    static log4cplus::Logger& logger = CreateGlobalLogger();
    return logger;
}

std::string GetLoggingContext()
{
    std::ostringstream context;
    context << "[" << std::this_thread::get_id() << "] ";
    return context.str();
}

std::string GetFullBacktrace()
{
    void* frames[64];
    const int count = backtrace(frames, 64);
    std::unique_ptr<char*, void (*)(void*)> symbols(backtrace_symbols(frames, count), std::free);
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::string frame = symbols ? symbols.get()[i] : "?";
        // "binary(mangled+offset) [address]": demangle the part in parentheses.
        const auto open = frame.find('(');
        const auto plus = frame.find('+', open);
        if (open != std::string::npos && plus != std::string::npos && plus > open + 1) {
            frame = frame.substr(0, open + 1) + Demangle(frame.substr(open + 1, plus - open - 1).c_str()) +
                    frame.substr(plus);
        }
        text += "\n  #" + std::to_string(i) + " " + frame;
    }
    return text;
}

PrettyFunctionNamePrinter::PrettyFunctionNamePrinter(const char* prettyFunction,
                                                     const char* sourceFile, int line)
    : _prettyFunction(prettyFunction), _sourceFile(sourceFile), _line(line)
{
}

std::string PrettyFunctionNamePrinter::Format() const
{
    if (_prettyFunction == nullptr || *_prettyFunction == '\0') {
        return SourceBaseName(_sourceFile) + ":" + std::to_string(_line);
    }
    return ShortenSignature(_prettyFunction);
}

std::ostream& operator<<(std::ostream& stream, LoggingRecursionPadding)
{
    for (int level = 1; level < t_recursionDepth; ++level) {
        stream << "  ";
    }
    return stream;
}

LogEntryFormatter::LogEntryFormatter(unsigned char byte) : _text(std::to_string(byte)) {}

LogEntryFormatter::LogEntryFormatter(const boost::system::error_code& error)
    : _text(std::string(error.category().name()) + ":" + std::to_string(error.value()) + " (" +
            error.message() + ")")
{
}

std::ostream& operator<<(std::ostream& stream, const LogEntryFormatter& formatter)
{
    return stream << formatter._text;
}

std::string SourceBaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    std::string name = slash != nullptr ? slash + 1 : path;
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

LogLine::LogLine(const char* sourceFile, int line, const char* prettyFunction)
    : _sourceFile(sourceFile), _line(line), _prettyFunction(prettyFunction)
{
    ++t_recursionDepth;
}

LogLine::~LogLine() { --t_recursionDepth; }

void LogLine::Emit(log4cplus::LogLevel level)
{
    auto& logger = GetGlobalDefaultLogger();
    const std::string function = PrettyFunctionNamePrinter(_prettyFunction, _sourceFile, _line).Format();
    const std::string source = SourceBaseName(_sourceFile);
    log4cplus::spi::InternalLoggingEvent event(logger.getName(), level,
                                               _stream.str(),
                                               source.c_str(), _line, function.c_str());
    logger.forcedLog(event);
}

}  // namespace Oru
