// A non-owning view of bytes that are valid UTF-8, checked when it is made.
// Made over program literals that live for the whole process.
#pragma once

#include <cstddef>
#include <ostream>

#include <utf8/core.h>

#include "Assert.h"
#include "BoundedInt.h"

namespace Oru {

// A byte count.
using ByteCount = BoundedInt<unsigned int, 0u, 4294967295u, NumberOf<unsigned char>>;

template <typename Length>
class BasicUTF8Span {
public:
    BasicUTF8Span(const char* begin, Length length) : _begin(begin), _length(length) { AssertValidUtf8(); }

    template <std::size_t N>
    BasicUTF8Span(const char (&literal)[N])  // NOLINT(google-explicit-constructor): literals convert
        : _begin(literal), _length(*Length::CreateFrom(N - 1))
    {
        AssertValidUtf8();
    }

    const char* begin() const { return _begin; }
    const char* end() const { return _begin + _length.Value(); }
    Length length() const { return _length; }

    friend std::ostream& operator<<(std::ostream& stream, const BasicUTF8Span& span)
    {
        return stream.write(span._begin, static_cast<std::streamsize>(span._length.Value()));
    }

private:
    void AssertValidUtf8() const { ORU_REQUIRE(utf8::is_valid(begin(), end())); }

    const char* _begin;
    Length _length;
};

using UTF8Span = BasicUTF8Span<ByteCount>;

}  // namespace Oru
