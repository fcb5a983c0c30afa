// An owning byte string that holds valid UTF-8 only.
#pragma once

#include <ostream>
#include <string>

#include <boost/optional.hpp>
#include <utf8/core.h>

namespace Oru {

class UTF8String {
public:
    // Empty when the bytes are not valid UTF-8 (overlong forms, surrogates,
    // code points above U+10FFFF, truncated sequences).
    static boost::optional<UTF8String> Create(std::string bytes)
    {
        if (!utf8::is_valid(bytes.begin(), bytes.end())) {
            return boost::none;
        }
        return UTF8String(std::move(bytes));
    }

    const std::string& Get() const { return _bytes; }
    std::size_t size() const { return _bytes.size(); }

    friend bool operator==(const UTF8String& a, const UTF8String& b) { return a._bytes == b._bytes; }
    friend bool operator!=(const UTF8String& a, const UTF8String& b) { return a._bytes != b._bytes; }
    friend bool operator<(const UTF8String& a, const UTF8String& b) { return a._bytes < b._bytes; }
    friend std::ostream& operator<<(std::ostream& stream, const UTF8String& text) { return stream << text._bytes; }

private:
    explicit UTF8String(std::string bytes) : _bytes(std::move(bytes)) {}

    std::string _bytes;
};

}  // namespace Oru
