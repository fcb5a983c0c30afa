#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "support/BoundedTypes.h"
#include "support/UTF8Span.h"

using namespace Keldra;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Wide enough for every raw value of every integer type, so that the
// expected answers never depend on a conversion.
__extension__ typedef __int128 Wide;

std::string ToText(Wide value)
{
    if (value == 0) {
        return "0";
    }
    const bool negative = value < 0;
    std::string digits;
    while (value != 0) {
        const int digit = static_cast<int>(value % 10);
        digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -digit : digit)));
        value /= 10;
    }
    return negative ? "-" + digits : digits;
}

template <typename Bounded>
Wide RawOf(const Bounded& value)
{
    return static_cast<Wide>(value.Value());
}

template <typename Bounded>
constexpr Wide Minimum()
{
    return static_cast<Wide>(Bounded::Min);
}

template <typename Bounded>
constexpr Wide Maximum()
{
    return static_cast<Wide>(Bounded::Max);
}

template <typename X>
constexpr bool Fits(Wide raw)
{
    return raw >= static_cast<Wide>(std::numeric_limits<X>::min()) &&
           raw <= static_cast<Wide>(std::numeric_limits<X>::max());
}

// Raw values around everything that could go wrong: the range and its
// neighbours, everything near zero, the limits of every integer type, and
// values that a narrowing conversion would wrap into the range.
template <typename Bounded>
std::vector<Wide> Probes()
{
    std::vector<Wide> probes;
    for (Wide raw = -1000; raw <= 1000; ++raw) {
        probes.push_back(raw);
    }
    const Wide minimum = Minimum<Bounded>();
    const Wide maximum = Maximum<Bounded>();
    for (const Wide edge : {minimum, maximum}) {
        for (const Wide delta : {Wide(0), Wide(1), Wide(2), Wide(1) << 7, Wide(1) << 8, Wide(1) << 15, Wide(1) << 16,
                                 Wide(1) << 31, Wide(1) << 32, Wide(1) << 63, Wide(1) << 64}) {
            probes.push_back(edge + delta);
            probes.push_back(edge - delta);
        }
    }
    for (const Wide limit : {static_cast<Wide>(std::numeric_limits<signed char>::min()),
                             static_cast<Wide>(std::numeric_limits<signed char>::max()),
                             static_cast<Wide>(std::numeric_limits<unsigned char>::max()),
                             static_cast<Wide>(std::numeric_limits<short>::min()),
                             static_cast<Wide>(std::numeric_limits<short>::max()),
                             static_cast<Wide>(std::numeric_limits<unsigned short>::max()),
                             static_cast<Wide>(std::numeric_limits<int>::min()),
                             static_cast<Wide>(std::numeric_limits<int>::max()),
                             static_cast<Wide>(std::numeric_limits<unsigned int>::max()),
                             static_cast<Wide>(std::numeric_limits<long long>::min()),
                             static_cast<Wide>(std::numeric_limits<long long>::max()),
                             static_cast<Wide>(std::numeric_limits<unsigned long long>::max())}) {
        probes.push_back(limit);
        probes.push_back(limit + 1);
        probes.push_back(limit - 1);
    }
    return probes;
}

template <typename X>
const char* TypeName()
{
    if constexpr (std::is_same<X, signed char>::value) {
        return "signed char";
    } else if constexpr (std::is_same<X, unsigned char>::value) {
        return "unsigned char";
    } else if constexpr (std::is_same<X, short>::value) {
        return "short";
    } else if constexpr (std::is_same<X, unsigned short>::value) {
        return "unsigned short";
    } else if constexpr (std::is_same<X, int>::value) {
        return "int";
    } else if constexpr (std::is_same<X, unsigned int>::value) {
        return "unsigned int";
    } else if constexpr (std::is_same<X, long>::value) {
        return "long";
    } else if constexpr (std::is_same<X, unsigned long>::value) {
        return "unsigned long";
    } else if constexpr (std::is_same<X, long long>::value) {
        return "long long";
    } else {
        return "unsigned long long";
    }
}

// Checks CreateFrom and Create with a raw value of type X; records every
// disagreement with the expected answer.
template <typename Bounded, typename X>
void CheckFactoriesWith(Wide raw, std::vector<std::string>& mismatches)
{
    if (!Fits<X>(raw)) {
        return;
    }
    const X value = static_cast<X>(raw);
    const bool inRange = raw >= Minimum<Bounded>() && raw <= Maximum<Bounded>();
    const auto check = [&](const char* factory, const boost::optional<Bounded>& created) {
        if (created.has_value() != inRange || (created && RawOf(*created) != raw)) {
            mismatches.push_back(std::string(factory) + "(" + ToText(raw) + " as " + TypeName<X>() + ") gave " +
                                 (created ? ToText(RawOf(*created)) : std::string("nothing")));
        }
    };
    check("CreateFrom", Bounded::CreateFrom(value));
    check("Create", Bounded::Create(value));
}

template <typename Bounded>
void CheckEnumerationFactory(Wide raw, std::vector<std::string>& mismatches)
{
    using Int = typename Bounded::ValueType;
    if constexpr (std::is_enum<Int>::value) {
        using Underlying = std::underlying_type_t<Int>;
        if (!Fits<Underlying>(raw)) {
            return;
        }
        const bool inRange = raw >= Minimum<Bounded>() && raw <= Maximum<Bounded>();
        const auto created = Bounded::Create(static_cast<Int>(static_cast<Underlying>(raw)));
        if (created.has_value() != inRange || (created && RawOf(*created) != raw)) {
            mismatches.push_back("Create(enumeration " + ToText(raw) + ")");
        }
    }
}

template <typename Bounded>
std::vector<Wide> AllRawValues()
{
    std::vector<Wide> values;
    for (const auto& value : Bounded::All()) {
        values.push_back(RawOf(value));
    }
    return values;
}

template <typename Bounded>
constexpr bool SmallRange()
{
    return Maximum<Bounded>() - Minimum<Bounded>() < 100000;
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

TYPED_TEST(EveryBoundedType, FactoriesAcceptExactlyTheRangeForEveryRawIntegerType)
{
    std::vector<std::string> mismatches;
    for (const Wide raw : Probes<TypeParam>()) {
        CheckFactoriesWith<TypeParam, signed char>(raw, mismatches);
        CheckFactoriesWith<TypeParam, unsigned char>(raw, mismatches);
        CheckFactoriesWith<TypeParam, short>(raw, mismatches);
        CheckFactoriesWith<TypeParam, unsigned short>(raw, mismatches);
        CheckFactoriesWith<TypeParam, int>(raw, mismatches);
        CheckFactoriesWith<TypeParam, unsigned int>(raw, mismatches);
        CheckFactoriesWith<TypeParam, long>(raw, mismatches);
        CheckFactoriesWith<TypeParam, unsigned long>(raw, mismatches);
        CheckFactoriesWith<TypeParam, long long>(raw, mismatches);
        CheckFactoriesWith<TypeParam, unsigned long long>(raw, mismatches);
        CheckEnumerationFactory<TypeParam>(raw, mismatches);
    }
    EXPECT_THAT(mismatches, IsEmpty());
}

TYPED_TEST(EveryBoundedType, ConstantsAtTheLimitsHoldTheirValue)
{
    EXPECT_EQ(Minimum<TypeParam>(), RawOf(TypeParam::template Constant<TypeParam::Min>()));
    EXPECT_EQ(Maximum<TypeParam>(), RawOf(TypeParam::template Constant<TypeParam::Max>()));
}

TYPED_TEST(EveryBoundedType, IterationVisitsEveryValueOnceInAscendingOrder)
{
    if constexpr (SmallRange<TypeParam>()) {
        std::vector<Wide> expected;
        for (Wide raw = Minimum<TypeParam>(); raw <= Maximum<TypeParam>(); ++raw) {
            expected.push_back(raw);
        }
        EXPECT_EQ(expected, AllRawValues<TypeParam>());
    } else {
        EXPECT_EQ(Minimum<TypeParam>(), RawOf(*TypeParam::All().begin()));
    }
}

TYPED_TEST(EveryBoundedType, DifferenceIsTheDistanceFromTheMinimumAndBack)
{
    using Difference = typename TypeParam::DifferenceType;
    EXPECT_EQ(0, RawOf(Difference::template Constant<Difference::Min>()));
    EXPECT_EQ(Maximum<TypeParam>() - Minimum<TypeParam>(), Maximum<Difference>());
    std::vector<std::string> mismatches;
    const auto check = [&](const TypeParam& value) {
        const Difference difference = value.ToDifference();
        if (RawOf(difference) != RawOf(value) - Minimum<TypeParam>() ||
            TypeParam::FromDifference(difference) != value) {
            mismatches.push_back(ToText(RawOf(value)));
        }
    };
    if constexpr (SmallRange<TypeParam>()) {
        for (const auto& value : TypeParam::All()) {
            check(value);
        }
    } else {
        check(TypeParam::template Constant<TypeParam::Min>());
        check(TypeParam::template Constant<TypeParam::Max>());
    }
    EXPECT_THAT(mismatches, IsEmpty());
}

TYPED_TEST(EveryBoundedType, EqualValuesHashAlikeAndEveryValueIsADistinctKey)
{
    if constexpr (SmallRange<TypeParam>()) {
        std::unordered_set<TypeParam> keys;
        std::size_t count = 0;
        for (const auto& value : TypeParam::All()) {
            keys.insert(value);
            ++count;
            EXPECT_EQ(std::hash<TypeParam>()(value), std::hash<TypeParam>()(*TypeParam::Create(value.Value())));
        }
        EXPECT_EQ(count, keys.size());
        for (const auto& value : TypeParam::All()) {
            EXPECT_EQ(1u, keys.count(value));
        }
    }
}

TYPED_TEST(EveryBoundedType, PrintsThePlainDecimalValue)
{
    for (const auto& value : {TypeParam::template Constant<TypeParam::Min>(),
                              TypeParam::template Constant<TypeParam::Max>()}) {
        std::ostringstream text;
        text << value;
        EXPECT_EQ(ToText(RawOf(value)), text.str());
    }
}

TEST(BoundedInt, RoomFactoryAcceptsOneToTwelve)
{
    EXPECT_FALSE(Room::Create(0));
    EXPECT_TRUE(Room::Create(1));
    EXPECT_TRUE(Room::Create(12));
    EXPECT_FALSE(Room::Create(13));
}

TEST(BoundedInt, NarrowingRawValuesDoNotWrapIntoTheRange)
{
    // Each of these would land in the range after a conversion to the
    // type's own integer type.
    const int byteWrapping = 256;
    const long long wordWrapping = 4294967297LL;
    const int negative = -1;
    EXPECT_FALSE(KnxBytePercent::Create(byteWrapping));
    EXPECT_FALSE(PowerLevel::Create(byteWrapping + 3));
    EXPECT_FALSE(Room::Create(wordWrapping));
    EXPECT_FALSE(Oru::ByteCount::Create(negative));
    EXPECT_FALSE(HalfDegreeTemperature::CreateFrom(256 + 20));
}

TEST(BoundedInt, BaseStationNumbersIterateOneToFive)
{
    EXPECT_THAT(AllRawValues<BaseStationNumber>(), ElementsAre(1, 2, 3, 4, 5));
}

TEST(BoundedInt, KnxBytePercentIteratesAllByteValuesWithoutOverflow)
{
    const auto values = AllRawValues<KnxBytePercent>();
    ASSERT_EQ(256u, values.size());
    EXPECT_EQ(0, values.front());
    EXPECT_EQ(255, values.back());

    auto last = KnxBytePercent::All().begin();
    for (int step = 0; step < 255; ++step) {
        ++last;
    }
    EXPECT_EQ(255, last->Value());
    auto past = last++;
    EXPECT_EQ(255, past->Value());
    EXPECT_EQ(KnxBytePercent::All().end(), last);
    ++last;
    EXPECT_EQ(KnxBytePercent::All().end(), last);
}

TEST(BoundedInt, DifferencesIndexArraysFromZero)
{
    EXPECT_EQ(0u, BaseStationNumber::Constant<1>().ToDifference().Value());
    EXPECT_EQ(4u, BaseStationNumber::Constant<5>().ToDifference().Value());
    EXPECT_EQ(4u, BaseStationIndex::Max);
    EXPECT_EQ(7u, RoomThermostatIndex::Max);
    EXPECT_EQ(11u, ActorModuleSlotIndex::Max);
    EXPECT_EQ(HalfDegreeTemperature::Constant<43>(), HalfDegreeTemperature::FromDifference(*HalfDegreeTemperature::DifferenceType::Create(33)));
    EXPECT_EQ(SystemCo::Constant<SystemCoOffsetValue::LeavingHome>(),
              SystemCo::FromDifference(*SystemCo::DifferenceType::Create(9)));
}

TEST(BoundedInt, RoomsAreKeysOfUnorderedMaps)
{
    std::unordered_map<Room, std::string> names;
    for (const auto& room : Room::All()) {
        names[room] = "room " + std::to_string(room.Value());
    }
    ASSERT_EQ(12u, names.size());
    EXPECT_EQ("room 7", names.at(Room::Constant<7>()));
    names[*Room::Create(7)] = "kitchen";
    EXPECT_EQ(12u, names.size());
    EXPECT_EQ("kitchen", names.at(Room::Constant<7>()));
}

TEST(BoundedInt, ByteSizedTypesPrintAsNumbers)
{
    const auto print = [](const auto& value) {
        std::ostringstream text;
        text << value;
        return text.str();
    };
    EXPECT_EQ("7", print(PowerLevel::Constant<7>()));
    EXPECT_EQ("0", print(PowerLevel::Constant<0>()));
    EXPECT_EQ("65", print(KnxBytePercent::Constant<65>()));
    EXPECT_EQ("255", print(KnxBytePercent::Constant<255>()));
    EXPECT_EQ("43", print(HalfDegreeTemperature::Constant<43>()));
    EXPECT_EQ("501", print(SystemCo::Constant<SystemCoOffsetValue::GatewayHasError>()));
    EXPECT_EQ("38", print(PowerLevelCoOffset::Constant<PowerLevelCoOffsetValue::PowerLevelStatus>()));
}

TEST(BoundedInt, ComparisonsFollowTheValues)
{
    const Room three = Room::Constant<3>();
    const Room four = Room::Constant<4>();
    EXPECT_TRUE(three < four);
    EXPECT_TRUE(four > three);
    EXPECT_TRUE(three <= three);
    EXPECT_TRUE(four >= three);
    EXPECT_TRUE(three != four);
    EXPECT_FALSE(three == four);
    EXPECT_TRUE(SystemCo::Constant<SystemCoOffsetValue::GatewayHasError>() <
                SystemCo::Constant<SystemCoOffsetValue::HeatingCoolingStatus>());
}

// Detection of the operations that must not compile.
template <typename A, typename B, typename = void>
struct IsEqualityComparable : std::false_type {};
template <typename A, typename B>
struct IsEqualityComparable<A, B, std::void_t<decltype(std::declval<const A&>() == std::declval<const B&>())>>
    : std::true_type {};

template <typename A, typename B, typename = void>
struct IsOrdered : std::false_type {};
template <typename A, typename B>
struct IsOrdered<A, B, std::void_t<decltype(std::declval<const A&>() < std::declval<const B&>())>> : std::true_type {};

// The detectors see what compiles ...
static_assert(IsEqualityComparable<Room, Room>::value, "detector works");
static_assert(IsOrdered<Room, Room>::value, "detector works");
static_assert(std::is_assignable<Room&, Room>::value, "detector works");
// ... and rooms and actor module slots never meet.
static_assert(!IsEqualityComparable<Room, ActorModuleSlot>::value, "a room is not a slot");
static_assert(!IsEqualityComparable<ActorModuleSlot, Room>::value, "a slot is not a room");
static_assert(!IsOrdered<Room, ActorModuleSlot>::value, "a room is not a slot");
static_assert(!std::is_assignable<Room&, ActorModuleSlot>::value, "a slot cannot become a room");
static_assert(!std::is_assignable<ActorModuleSlot&, Room>::value, "a room cannot become a slot");
static_assert(!std::is_constructible<Room, ActorModuleSlot>::value, "no explicit conversion either");
static_assert(!std::is_constructible<ActorModuleSlot, Room>::value, "no explicit conversion either");
// Nor do types that share a tag but not the integer type, or share the
// range but not the tag.
static_assert(!IsEqualityComparable<BaseStationNumber, BaseStationConfigurationNumber>::value, "distinct");
static_assert(!IsEqualityComparable<ActorModuleSlot, ActorModuleNumber>::value, "distinct");
static_assert(!IsEqualityComparable<BaseStationIndex, RoomThermostatIndex>::value, "distinct");
static_assert(!IsEqualityComparable<CoNumber, SystemCoNumber>::value, "distinct");
// A raw number never becomes a bounded value without the factory.
static_assert(!std::is_convertible<unsigned int, Room>::value, "only through Create");
static_assert(!std::is_constructible<Room, unsigned int>::value, "only through Create");
static_assert(!std::is_assignable<Room&, unsigned int>::value, "only through Create");
static_assert(!IsEqualityComparable<Room, unsigned int>::value, "compare Value() instead");
static_assert(!std::is_default_constructible<Room>::value, "no value outside the range, not even by default");

// The factories take integers of any type, never floating-point values.
template <typename Bounded, typename Raw, typename = void>
struct CanCreate : std::false_type {};
template <typename Bounded, typename Raw>
struct CanCreate<Bounded, Raw, std::void_t<decltype(Bounded::Create(std::declval<Raw>()))>> : std::true_type {};
template <typename Bounded, typename Raw, typename = void>
struct CanCreateFrom : std::false_type {};
template <typename Bounded, typename Raw>
struct CanCreateFrom<Bounded, Raw, std::void_t<decltype(Bounded::CreateFrom(std::declval<Raw>()))>>
    : std::true_type {};
static_assert(CanCreate<HalfDegreeTemperature, unsigned char>::value, "detector works");
static_assert(CanCreate<HalfDegreeTemperature, long long>::value, "detector works");
static_assert(CanCreate<SystemCo, int>::value, "enumeration-typed values from a raw integer");
static_assert(CanCreateFrom<HalfDegreeTemperature, int>::value, "detector works");
static_assert(!CanCreate<HalfDegreeTemperature, double>::value, "round and check a temperature first");
static_assert(!CanCreate<PowerLevel, float>::value, "round and check a level first");
static_assert(!CanCreateFrom<HalfDegreeTemperature, double>::value, "round and check a temperature first");

}  // namespace
