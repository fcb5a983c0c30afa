// A string whose length in bytes lies within MinimumLength..MaximumLength.
#pragma once

#include <cstddef>
#include <ostream>
#include <utility>

#include <boost/optional.hpp>

namespace Oru {

template <typename String, std::size_t MinimumLength, std::size_t MaximumLength>
class BoundedString {
    static_assert(MinimumLength <= MaximumLength, "empty length range");

public:
    static constexpr std::size_t MinLength = MinimumLength;
    static constexpr std::size_t MaxLength = MaximumLength;

    // Empty when the byte length lies outside the bounds.
    static boost::optional<BoundedString> Create(String text)
    {
        if (text.size() < MinimumLength || text.size() > MaximumLength) {
            return boost::none;
        }
        return BoundedString(std::move(text));
    }

    const String& Get() const { return _text; }

    friend bool operator==(const BoundedString& a, const BoundedString& b) { return a._text == b._text; }
    friend bool operator!=(const BoundedString& a, const BoundedString& b) { return !(a == b); }
    friend std::ostream& operator<<(std::ostream& stream, const BoundedString& text) { return stream << text._text; }

private:
    explicit BoundedString(String text) : _text(std::move(text)) {}

    String _text;
};

}  // namespace Oru
