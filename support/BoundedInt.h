// An integer (or enumeration) that cannot hold a value outside
// Minimum..Maximum. Values come from the validating factories only.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <ostream>
#include <type_traits>

#include <boost/optional.hpp>

namespace Oru {

// Tag of the zero-based distance of a bounded value from its Minimum.
template <typename UniquenessTag, typename = std::nullptr_t>
struct Difference {};

// Tag of a count of objects of type T.
template <typename T>
struct NumberOf {};

template <typename Int, Int Minimum, Int Maximum, typename UniquenessTag>
class BoundedIntIterator;
template <typename Int, Int Minimum, Int Maximum, typename UniquenessTag>
class BoundedIntRange;

namespace detail {

template <typename Int, bool = std::is_enum<Int>::value>
struct RawOf {
    using type = Int;
};
template <typename Int>
struct RawOf<Int, true> {
    using type = std::underlying_type_t<Int>;
};

template <typename Int>
constexpr typename RawOf<Int>::type ToRaw(Int value)
{
    return static_cast<typename RawOf<Int>::type>(value);
}

// a < b for integers of any signedness, without conversion surprises.
template <typename A, typename B>
constexpr bool Less(A a, B b)
{
    if constexpr (std::is_signed<A>::value == std::is_signed<B>::value) {
        return a < b;
    } else if constexpr (std::is_signed<A>::value) {
        return a < 0 || static_cast<std::make_unsigned_t<A>>(a) < b;
    } else {
        return b >= 0 && a < static_cast<std::make_unsigned_t<B>>(b);
    }
}

}  // namespace detail

template <typename Int, Int Minimum, Int Maximum, typename UniquenessTag>
class BoundedInt {
    using Raw = typename detail::RawOf<Int>::type;
    static_assert(std::is_integral<Raw>::value, "BoundedInt needs an integer or enumeration type");
    static_assert(!detail::Less(detail::ToRaw(Maximum), detail::ToRaw(Minimum)), "empty range");

public:
    using ValueType = Int;
    using Tag = UniquenessTag;
    static constexpr Int Min = Minimum;
    static constexpr Int Max = Maximum;
    using DifferenceType =
        BoundedInt<unsigned int, 0u,
                   static_cast<unsigned int>(detail::ToRaw(Maximum) - detail::ToRaw(Minimum)),
                   Difference<UniquenessTag, std::nullptr_t>>;

    // The validating factory: empty when raw lies outside Minimum..Maximum.
    static constexpr boost::optional<BoundedInt> Create(Int raw)
    {
        if (detail::Less(detail::ToRaw(raw), detail::ToRaw(Minimum)) ||
            detail::Less(detail::ToRaw(Maximum), detail::ToRaw(raw))) {
            return boost::none;
        }
        return BoundedInt(raw);
    }

    // The same for a raw value of any other integer type: the range is checked
    // before any conversion, so that no value wraps into the range.
    template <typename Other,
              typename = std::enable_if_t<std::is_integral<Other>::value && !std::is_same<Other, Int>::value>>
    static constexpr boost::optional<BoundedInt> Create(Other raw)
    {
        return CreateFrom(raw);
    }

    // A floating-point value must be rounded and range-checked by the caller
    // first: its conversion is undefined for NaN and out-of-range values.
    template <typename Floating, typename = std::enable_if_t<std::is_floating_point<Floating>::value>,
              typename = void>
    static boost::optional<BoundedInt> Create(Floating raw) = delete;

    // The validating factory for a raw value of another integer type (bus,
    // file and network input): no conversion can wrap into the range.
    template <typename Other, typename = std::enable_if_t<std::is_integral<Other>::value>>
    static constexpr boost::optional<BoundedInt> CreateFrom(Other raw)
    {
        if (detail::Less(raw, detail::ToRaw(Minimum)) || detail::Less(detail::ToRaw(Maximum), raw)) {
            return boost::none;
        }
        return BoundedInt(static_cast<Int>(raw));
    }

    // A compile-time constant, checked at compile time.
    template <Int Value>
    static constexpr BoundedInt Constant()
    {
        static_assert(!detail::Less(detail::ToRaw(Value), detail::ToRaw(Minimum)) &&
                          !detail::Less(detail::ToRaw(Maximum), detail::ToRaw(Value)),
                      "constant out of range");
        return BoundedInt(Value);
    }

    // Every value from Minimum to Maximum, ascending.
    static BoundedIntRange<Int, Minimum, Maximum, UniquenessTag> All() { return {}; }

    constexpr Int Value() const { return _value; }

    // The distance from Minimum: an index into one-entry-per-value arrays.
    constexpr DifferenceType ToDifference() const
    {
        return *DifferenceType::Create(
            static_cast<unsigned int>(detail::ToRaw(_value) - detail::ToRaw(Minimum)));
    }

    // The value at a distance from Minimum.
    static constexpr BoundedInt FromDifference(const DifferenceType& difference)
    {
        return BoundedInt(static_cast<Int>(detail::ToRaw(Minimum) + difference.Value()));
    }

    friend constexpr bool operator==(const BoundedInt& a, const BoundedInt& b) { return a._value == b._value; }
    friend constexpr bool operator!=(const BoundedInt& a, const BoundedInt& b) { return a._value != b._value; }
    friend constexpr bool operator<(const BoundedInt& a, const BoundedInt& b) { return a._value < b._value; }
    friend constexpr bool operator>(const BoundedInt& a, const BoundedInt& b) { return b._value < a._value; }
    friend constexpr bool operator<=(const BoundedInt& a, const BoundedInt& b) { return !(b._value < a._value); }
    friend constexpr bool operator>=(const BoundedInt& a, const BoundedInt& b) { return !(a._value < b._value); }

    friend std::ostream& operator<<(std::ostream& stream, const BoundedInt& value)
    {
        // Promote so that unsigned char prints as a number, not a character.
        return stream << +detail::ToRaw(value._value);
    }

private:
    explicit constexpr BoundedInt(Int value) : _value(value) {}

    Int _value;
};

}  // namespace Oru

namespace std {
template <typename Int, Int Minimum, Int Maximum, typename UniquenessTag>
struct hash<Oru::BoundedInt<Int, Minimum, Maximum, UniquenessTag>> {
    std::size_t operator()(const Oru::BoundedInt<Int, Minimum, Maximum, UniquenessTag>& value) const
    {
        return std::hash<typename Oru::detail::RawOf<Int>::type>()(Oru::detail::ToRaw(value.Value()));
    }
};
}  // namespace std

#include "BoundedIntIterator.h"
