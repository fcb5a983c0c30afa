#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <boost/multiprecision/cpp_int.hpp>

#include "support/BoundedTypes.h"
#include "support/UTF8Span.h"

using namespace Keldra;
using ::testing::IsEmpty;

namespace {

// Wide enough for every raw value of every integer type, so that the
// expected answers never depend on a conversion. 32-bit targets have no
// __int128.
#ifdef __SIZEOF_INT128__
__extension__ typedef __int128 Wide;
#else
using Wide = boost::multiprecision::int128_t;
#endif

std::string ToText(Wide value) { return boost::multiprecision::int128_t(value).str(); }

template <typename Bounded>
constexpr Wide Lowest = static_cast<Wide>(Bounded::Min);
template <typename Bounded>
constexpr Wide Highest = static_cast<Wide>(Bounded::Max);
template <typename Bounded>
Wide RawOf(const Bounded& value) { return static_cast<Wide>(value.Value()); }
template <typename X>
bool Fits(Wide raw) { return raw >= Wide(std::numeric_limits<X>::min()) && raw <= Wide(std::numeric_limits<X>::max()); }

// Calls f with a zero of every integer type.
template <typename F>
void ForEachIntegerType(F f)
{
    f(static_cast<signed char>(0)), f(static_cast<unsigned char>(0)), f(short(0)), f(static_cast<unsigned short>(0));
    f(0), f(0u), f(0l), f(0ul), f(0ll), f(0ull);
}

// Raw values around everything that could go wrong: everything near zero,
// and the range and the limits of every integer type, each with its
// neighbours at a distance of a power of two (a narrowing conversion would
// wrap some of them into the range).
template <typename Bounded>
std::vector<Wide> Probes()
{
    std::vector<Wide> edges{Lowest<Bounded>, Highest<Bounded>};
    ForEachIntegerType([&edges](auto zero) {
        edges.push_back(Wide(std::numeric_limits<decltype(zero)>::min()));
        edges.push_back(Wide(std::numeric_limits<decltype(zero)>::max()));
    });
    std::vector<Wide> probes(edges);
    for (Wide raw = -1000; raw <= 1000; ++raw) {
        probes.push_back(raw);
    }
    for (const Wide& edge : edges) {
        for (int bits = 0; bits <= 64; ++bits) {
            probes.push_back(edge + (Wide(1) << bits));
            probes.push_back(edge - (Wide(1) << bits));
        }
    }
    return probes;
}

template <typename Bounded>
class EveryBoundedType : public ::testing::Test {};

using BoundedTypes = ::testing::Types<
    BaseStationNumber, BaseStationConfigurationNumber, Room, RoomThermostat, ActorModuleSlot, ActorModuleNumber,
    PowerLevel, KnxBytePercent, HalfDegreeTemperature, BaseStationIndex, RoomThermostatIndex, ActorModuleSlotIndex,
    CoNumber, BaseStationCoOffset, SystemCo, SystemCoNumber, RoomThermostatCoOffset, PowerLevelCoOffset,
    BaseStationGeneralCo, BaseStationGeneralCoNumber, BaseStationCoBlock::Flat, RoomThermostatCo::Flat,
    PowerLevelCo::Flat, Oru::ByteCount>;
TYPED_TEST_SUITE(EveryBoundedType, BoundedTypes);

// Create and CreateFrom with a raw value of every integer type (and of the
// enumeration, for enumeration-typed values) agree with 128-bit arithmetic.
// Create once wrapped wider raw values into the range: KnxBytePercent from 256 gave 0.
TYPED_TEST(EveryBoundedType, FactoriesAcceptExactlyTheRangeForEveryRawIntegerType)
{
    using Bounded = TypeParam;
    std::vector<std::string> mismatches;
    const auto check = [&mismatches](const std::string& call, Wide raw, const boost::optional<Bounded>& created) {
        const bool inRange = raw >= Lowest<Bounded> && raw <= Highest<Bounded>;
        if (created.has_value() != inRange || (created && RawOf(*created) != raw)) {
            mismatches.push_back(call + "(" + ToText(raw) + ") gave " + (created ? ToText(RawOf(*created)) : "none"));
        }
    };
    for (const Wide& raw : Probes<Bounded>()) {
        ForEachIntegerType([&](auto zero) {
            using X = decltype(zero);
            if (Fits<X>(raw)) {
                const std::string type = typeid(X).name();
                check("CreateFrom<" + type + ">", raw, Bounded::CreateFrom(static_cast<X>(raw)));
                check("Create<" + type + ">", raw, Bounded::Create(static_cast<X>(raw)));
            }
        });
        using Int = typename Bounded::ValueType;
        if constexpr (std::is_enum<Int>::value) {
            using Underlying = std::underlying_type_t<Int>;
            if (Fits<Underlying>(raw)) {
                check("Create<enum>", raw, Bounded::Create(static_cast<Int>(static_cast<Underlying>(raw))));
            }
        }
    }
    EXPECT_THAT(mismatches, IsEmpty());
}

// All() visits Min..Max in ascending order (in small ranges; a range that
// ends at its integer type's maximum must not overflow); each value orders,
// prints as a number, and maps to its distance from Min and back.
TYPED_TEST(EveryBoundedType, ValuesIterateCompareAndPrintAndIndexArrays)
{
    using Bounded = TypeParam;
    EXPECT_EQ(Highest<Bounded> - Lowest<Bounded>, Highest<typename Bounded::DifferenceType>);
    std::vector<Bounded> values{*Bounded::All().begin(), Bounded::template Constant<Bounded::Max>()};
    if constexpr (Highest<Bounded> - Lowest<Bounded> < 100000) {
        values.clear();
        for (const auto& value : Bounded::All()) {
            values.push_back(value);
        }
    }
    std::vector<std::string> mismatches;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Bounded& value = values[i];
        const Bounded& previous = values[i == 0 ? 0 : i - 1];
        const Wide expected = i + 1 == values.size() ? Highest<Bounded> : Lowest<Bounded> + Wide(i);
        std::ostringstream text;
        text << value;
        if (RawOf(value) != expected || text.str() != ToText(expected) || !(value == *Bounded::Create(value.Value())) ||
            (i > 0 && !(previous < value && value > previous && previous <= value && value >= previous &&
                        previous != value)) ||
            RawOf(value.ToDifference()) != expected - Lowest<Bounded> ||
            Bounded::FromDifference(value.ToDifference()) != value) {
            mismatches.push_back(ToText(expected));
        }
    }
    EXPECT_THAT(mismatches, IsEmpty());
}

// The CO blocks number every (index, offset) pair consecutively, index by
// index, from the first CO of the block; each number decomposes back.
template <typename Periodic, typename Index, typename Offset>
void ExpectConsecutiveBlocks(int first, int last)
{
    EXPECT_EQ(first, Periodic::Flat::Min);
    EXPECT_EQ(last, Periodic::Flat::Max);
    int expected = first;
    for (const auto& index : Index::All()) {
        for (const auto& offset : Offset::All()) {
            const Periodic pair(index, offset);
            ASSERT_EQ(expected++, pair.ToFlat().Value());
            const auto back = Periodic::FromFlat(pair.ToFlat());
            ASSERT_TRUE(back.GetIndex() == index && back.GetOffset() == offset) << expected - 1;
        }
    }
    EXPECT_EQ(last + 1, expected);
}

TEST(PeriodicBoundedInt, CoBlocksNumberEveryPairConsecutively)
{
    ExpectConsecutiveBlocks<BaseStationCoBlock, BaseStationNumber, BaseStationCoOffset>(1, 500);
    ExpectConsecutiveBlocks<RoomThermostatCo, RoomThermostat, RoomThermostatCoOffset>(1, 24);
    ExpectConsecutiveBlocks<PowerLevelCo, ActorModuleSlot, PowerLevelCoOffset>(37, 96);
}

// Lengths are counted in bytes.
TEST(BoundedString, KnxErrorOneToFourteenBaseStationIdTenRoomThermostatIdEight)
{
    for (std::size_t length = 0; length <= 16; ++length) {
        const std::string text(length, 'x');
        EXPECT_EQ(length >= 1 && length <= 14, KnxErrorString::Create(text).has_value()) << length;
        EXPECT_EQ(length == 10, BaseStationIdString::Create(text).has_value()) << length;
        EXPECT_EQ(length == 8, RoomThermostatIDString::Create(*Oru::UTF8String::Create(text)).has_value()) << length;
    }
    const std::string sevenUmlauts = "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4";
    EXPECT_FALSE(KnxErrorString::Create(sevenUmlauts + "x"));
    std::ostringstream text;
    text << *KnxErrorString::Create(sevenUmlauts) << '|'
         << RoomThermostatIDString::Create(*Oru::UTF8String::Create("B\xC3\xA4" "der12"))->Get();
    EXPECT_EQ(sevenUmlauts + "|B\xC3\xA4" "der12", text.str());
}

// The operations that must not compile: mixing types of other tags (rooms and
// slots) or of another integer type, a raw number becoming a bounded value
// other than through the factories, and any floating-point raw value.
template <typename A, typename B, typename = void>
struct Comparable : std::false_type {};
template <typename A, typename B>
struct Comparable<A, B, std::void_t<decltype(std::declval<A>() == std::declval<B>())>> : std::true_type {};
template <typename Bounded, typename Raw, typename = void>
struct Creatable : std::false_type {};
template <typename Bounded, typename Raw>
struct Creatable<Bounded, Raw, std::void_t<decltype(Bounded::Create(std::declval<Raw>()))>> : std::true_type {};
static_assert(Comparable<Room, Room>::value && Creatable<Room, long long>::value, "the detectors work");
static_assert(!Comparable<Room, ActorModuleSlot>::value && !std::is_assignable<Room&, ActorModuleSlot>::value &&
                  !Comparable<BaseStationNumber, BaseStationConfigurationNumber>::value &&
                  !std::is_constructible<Room, unsigned int>::value &&
                  !std::is_assignable<Room&, unsigned int>::value &&
                  !Comparable<Room, unsigned int>::value && !std::is_default_constructible<Room>::value &&
                  !Creatable<HalfDegreeTemperature, double>::value && !Creatable<PowerLevel, float>::value,
              "must not compile");

}  // namespace
