// Forward iteration over every value of one bounded type. Advancing past
// Maximum sets the end flag instead of incrementing, so a range that ends at
// the largest value of its integer type cannot overflow.
#pragma once

#include <iterator>

#include "Assert.h"
#include "BoundedInt.h"

namespace Oru {

template <typename Int, Int Minimum, Int Maximum, typename UniquenessTag>
class BoundedIntIterator {
public:
    using Bounded = BoundedInt<Int, Minimum, Maximum, UniquenessTag>;
    using iterator_category = std::forward_iterator_tag;
    using value_type = Bounded;
    using difference_type = std::ptrdiff_t;
    using pointer = const Bounded*;
    using reference = const Bounded&;

    static BoundedIntIterator Begin() { return BoundedIntIterator(false); }
    static BoundedIntIterator End() { return BoundedIntIterator(true); }

    const Bounded& operator*() const
    {
        ORU_REQUIRE(!m_is_end);
        return m_value;
    }
    const Bounded* operator->() const { return &**this; }

    BoundedIntIterator& operator++()
    {
        if (m_is_end) {
            return *this;
        }
        if (m_value.Value() == Maximum) {
            m_is_end = true;
        } else {
            m_value = *Bounded::CreateFrom(detail::ToRaw(m_value.Value()) + 1);
        }
        return *this;
    }
    BoundedIntIterator operator++(int)
    {
        BoundedIntIterator previous = *this;
        ++*this;
        return previous;
    }

    friend bool operator==(const BoundedIntIterator& a, const BoundedIntIterator& b)
    {
        return a.m_is_end == b.m_is_end && (a.m_is_end || a.m_value == b.m_value);
    }
    friend bool operator!=(const BoundedIntIterator& a, const BoundedIntIterator& b) { return !(a == b); }

private:
    explicit BoundedIntIterator(bool isEnd) : m_value(Bounded::template Constant<Minimum>()), m_is_end(isEnd) {}

    Bounded m_value;
    bool m_is_end;
};

template <typename Int, Int Minimum, Int Maximum, typename UniquenessTag>
class BoundedIntRange {
public:
    using Iterator = BoundedIntIterator<Int, Minimum, Maximum, UniquenessTag>;
    Iterator begin() const { return Iterator::Begin(); }
    Iterator end() const { return Iterator::End(); }
};

}  // namespace Oru
