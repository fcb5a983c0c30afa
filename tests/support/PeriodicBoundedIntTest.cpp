#include <gtest/gtest.h>

#include <set>

#include "support/BoundedTypes.h"

using namespace Keldra;

namespace {

TEST(PeriodicBoundedInt, BlockLayoutOfTheCoBlocks)
{
    EXPECT_EQ(100, BaseStationCoBlock::BlockLength);
    EXPECT_EQ(1, BaseStationCoBlock::Flat::Min);
    EXPECT_EQ(500, BaseStationCoBlock::Flat::Max);
    EXPECT_EQ(3, RoomThermostatCo::BlockLength);
    EXPECT_EQ(1, RoomThermostatCo::Flat::Min);
    EXPECT_EQ(24, RoomThermostatCo::Flat::Max);
    EXPECT_EQ(5, PowerLevelCo::BlockLength);
    EXPECT_EQ(37, PowerLevelCo::Flat::Min);
    EXPECT_EQ(96, PowerLevelCo::Flat::Max);
}

struct ThermostatCase {
    unsigned int thermostat;
    RoomThermostatCoOffsetValue offset;
    int flat;
};

TEST(PeriodicBoundedInt, ThermostatCoComposesAndDecomposes)
{
    const ThermostatCase cases[] = {
        {1, RoomThermostatCoOffsetValue::RoomTemperatureStatus, 1},
        {1, RoomThermostatCoOffsetValue::SetpointTemperatureStatus, 3},
        {2, RoomThermostatCoOffsetValue::RoomTemperatureStatus, 4},
        {8, RoomThermostatCoOffsetValue::SetpointTemperatureInput, 23},
        {8, RoomThermostatCoOffsetValue::SetpointTemperatureStatus, 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flat);
        const RoomThermostatCo co(*RoomThermostat::Create(c.thermostat), *RoomThermostatCoOffset::Create(c.offset));
        EXPECT_EQ(c.flat, co.ToFlat().Value());
        const auto back = RoomThermostatCo::FromFlat(*RoomThermostatCo::Flat::Create(c.flat));
        EXPECT_EQ(c.thermostat, back.GetIndex().Value());
        EXPECT_EQ(c.offset, back.GetOffset().Value());
    }
}

struct PowerLevelCase {
    unsigned int slot;
    PowerLevelCoOffsetValue offset;
    int flat;
};

TEST(PeriodicBoundedInt, PowerLevelCoComposesAndDecomposes)
{
    const PowerLevelCase cases[] = {
        {1, PowerLevelCoOffsetValue::PowerLevelInput, 37},
        {1, PowerLevelCoOffsetValue::PowerLevelStep, 41},
        {2, PowerLevelCoOffsetValue::PowerLevelInput, 42},
        {12, PowerLevelCoOffsetValue::PowerLevelInput, 92},
        {12, PowerLevelCoOffsetValue::PowerLevelStep, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flat);
        const PowerLevelCo co(*ActorModuleSlot::Create(c.slot), *PowerLevelCoOffset::Create(c.offset));
        EXPECT_EQ(c.flat, co.ToFlat().Value());
        const auto back = PowerLevelCo::FromFlat(*PowerLevelCo::Flat::Create(c.flat));
        EXPECT_EQ(c.slot, back.GetIndex().Value());
        EXPECT_EQ(c.offset, back.GetOffset().Value());
    }
}

struct BaseStationCase {
    unsigned int station;
    int offset;
    int flat;
};

TEST(PeriodicBoundedInt, BaseStationCoComposesAndDecomposes)
{
    const BaseStationCase cases[] = {
        {1, 1, 1}, {1, 100, 100}, {2, 1, 101}, {3, 7, 207}, {5, 98, 498}, {5, 100, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flat);
        const BaseStationCoBlock co(*BaseStationNumber::Create(c.station), *BaseStationCoOffset::Create(c.offset));
        EXPECT_EQ(c.flat, co.ToFlat().Value());
        const auto back = BaseStationCoBlock::FromFlat(*BaseStationCoBlock::Flat::Create(c.flat));
        EXPECT_EQ(c.station, back.GetIndex().Value());
        EXPECT_EQ(c.offset, back.GetOffset().Value());
    }
}

template <typename T>
struct TypeTag {
    using type = T;
};

// Every (index, offset) pair maps to its own flat value, the flat values fill
// the flat range without a gap, and every flat value decomposes back.
TEST(PeriodicBoundedInt, EveryPairRoundTrips)
{
    const auto check = [](auto indexes, auto offsets, auto tag) {
        using Periodic = typename decltype(tag)::type;
        std::set<int> flats;
        for (const auto& index : indexes) {
            for (const auto& offset : offsets) {
                const Periodic pair(index, offset);
                const auto flat = pair.ToFlat();
                flats.insert(flat.Value());
                EXPECT_EQ(pair, Periodic::FromFlat(flat)) << flat;
            }
        }
        EXPECT_EQ(static_cast<std::size_t>(Periodic::Flat::Max - Periodic::Flat::Min + 1), flats.size());
        EXPECT_EQ(Periodic::Flat::Min, *flats.begin());
        EXPECT_EQ(Periodic::Flat::Max, *flats.rbegin());
        for (const auto& flat : Periodic::Flat::All()) {
            EXPECT_EQ(flat, Periodic::FromFlat(flat).ToFlat());
        }
    };
    check(BaseStationNumber::All(), BaseStationCoOffset::All(), TypeTag<BaseStationCoBlock>());
    check(RoomThermostat::All(), RoomThermostatCoOffset::All(), TypeTag<RoomThermostatCo>());
    check(ActorModuleSlot::All(), PowerLevelCoOffset::All(), TypeTag<PowerLevelCo>());
}

}  // namespace
