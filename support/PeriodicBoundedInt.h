// A pair (index, offset) of bounded values laid out as repeating blocks: one
// block of the offset's range per index value. The flat form numbers all
// pairs consecutively, starting at the offset's minimum.
#pragma once

#include "BoundedInt.h"

namespace Oru {

template <typename Int, typename Index, typename Offset>
class PeriodicBoundedInt {
    static constexpr long long IndexCount =
        static_cast<long long>(detail::ToRaw(Index::Max)) - detail::ToRaw(Index::Min) + 1;

public:
    static constexpr Int BlockLength =
        static_cast<Int>(static_cast<long long>(detail::ToRaw(Offset::Max)) - detail::ToRaw(Offset::Min) + 1);
    static constexpr Int FlatMinimum = static_cast<Int>(detail::ToRaw(Offset::Min));
    static constexpr Int FlatMaximum = static_cast<Int>(FlatMinimum + IndexCount * BlockLength - 1);
    using Flat = BoundedInt<Int, FlatMinimum, FlatMaximum, PeriodicBoundedInt>;

    constexpr PeriodicBoundedInt(const Index& index, const Offset& offset) : _index(index), _offset(offset) {}

    constexpr const Index& GetIndex() const { return _index; }
    constexpr const Offset& GetOffset() const { return _offset; }

    // offset + (index - index minimum) * block length
    constexpr Flat ToFlat() const
    {
        return *Flat::CreateFrom(static_cast<long long>(detail::ToRaw(_offset.Value())) +
                                 _index.ToDifference().Value() * static_cast<long long>(BlockLength));
    }

    static constexpr PeriodicBoundedInt FromFlat(const Flat& flat)
    {
        const long long distance = static_cast<long long>(flat.Value()) - FlatMinimum;
        const auto index = *Index::CreateFrom(static_cast<long long>(detail::ToRaw(Index::Min)) + distance / BlockLength);
        const auto offset = *Offset::Create(static_cast<typename Offset::ValueType>(
            static_cast<long long>(detail::ToRaw(Offset::Min)) + distance % BlockLength));
        return PeriodicBoundedInt(index, offset);
    }

    friend constexpr bool operator==(const PeriodicBoundedInt& a, const PeriodicBoundedInt& b)
    {
        return a._index == b._index && a._offset == b._offset;
    }
    friend constexpr bool operator!=(const PeriodicBoundedInt& a, const PeriodicBoundedInt& b) { return !(a == b); }

private:
    Index _index;
    Offset _offset;
};

}  // namespace Oru
