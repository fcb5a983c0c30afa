// Programming-error checks. None of them can be reached by input from the
// bus, the network or a file; each ends the process.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/host/OruLogging.h"

namespace Oru {

// The standard assertion message, also in builds without assert().
[[noreturn]] inline void RequirementFailed(const char* expression, const char* file, int line,
                                           const char* function)
{
    std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function, expression);
    std::fflush(stderr);
    std::abort();
}

}  // namespace Oru

// A check inside the support types (no logging: they sit below the logger).
#define ORU_REQUIRE(expression) \
    ((expression) ? static_cast<void>(0)  \
                  : ::Oru::RequirementFailed(#expression, __FILE__, __LINE__, __PRETTY_FUNCTION__))

// Fatal log line with the function, the failed expression and the backtrace;
// then abort().
#define ORU_ASSERT2(expression)                                                               \
    do {                                                                                      \
        if (!(expression)) {                                                                  \
            ORU_LOG_FATAL(" ORU_ASSERT2(" #expression ") failed" << ::Oru::GetFullBacktrace()); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (false)

// The guard of a switch over an enumeration that meets a value outside its
// enumerators.
#define ORU_UNREACHABLE()                                                                  \
    do {                                                                                   \
        ORU_LOG_FATAL("This statement should not be executed. There is a bug somewhere around " \
                      << ::Oru::SourceBaseName(__FILE__) << ":" << __LINE__);              \
        std::terminate();                                                                  \
    } while (false)

// An operation the plug-in does not offer; the caller goes on.
#define ORU_NOT_IMPLEMENTED() \
    ORU_LOG_FATAL("Something is not implemented here (" << ::Oru::SourceBaseName(__FILE__) << ":" << __LINE__ << ")")
