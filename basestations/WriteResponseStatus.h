// A base station's answer to a write. The station may send any number; the
// named values are the ones it defines.
#pragma once

#include <ostream>

namespace Keldra {

enum class WriteResponseStatus : int {
    Accepted = 0,
    OutOfRange = 1,     // the value lies outside what the station allows
    InvalidCookie = 2,  // the station no longer knows the session
};

inline std::ostream& operator<<(std::ostream& stream, WriteResponseStatus status)
{
    switch (status) {
    case WriteResponseStatus::Accepted:
        return stream << "Accepted";
    case WriteResponseStatus::OutOfRange:
        return stream << "OutOfRange";
    case WriteResponseStatus::InvalidCookie:
        return stream << "InvalidCookie";
    }
    return stream << "WriteResponseStatus(" << static_cast<int>(status) << ")";
}

}  // namespace Keldra
