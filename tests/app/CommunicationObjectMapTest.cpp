#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "app/CommunicationObjectMap.h"

using namespace Keldra;

namespace {

CoNumber Co(int number) { return *CoNumber::Create(number); }

std::string Print(const BaseStationCo& co)
{
    std::ostringstream stream;
    stream << co;
    return stream.str();
}

// Throws boost::bad_get (a test failure) when the CO is a system CO.
const BaseStationCo& AsBaseStationCo(const DecodedCo& decoded) { return boost::get<BaseStationCo>(decoded); }

bool IsUnassignedInBlock(int co)
{
    const int stationLocal = (co - 1) % 100 + 1;
    return co <= 500 && ((stationLocal >= 25 && stationLocal <= 36) || stationLocal == 99 || stationLocal == 100);
}

}  // namespace

TEST(CommunicationObjectMap, EveryNumberDecodesUnlessUnassigned)
{
    for (const auto co : CoNumber::All()) {
        const auto decoded = DecodeCo(co);
        EXPECT_EQ(decoded.has_value(), !IsUnassignedInBlock(co.Value())) << "CO " << co;
        if (decoded && co.Value() >= 501) {
            const auto* system = boost::get<SystemCo>(&*decoded);
            ASSERT_NE(system, nullptr) << "CO " << co;
            EXPECT_EQ(static_cast<int>(system->Value()), co.Value());
        } else if (decoded) {
            EXPECT_NE(boost::get<BaseStationCo>(&*decoded), nullptr) << "CO " << co;
        }
    }
}

TEST(CommunicationObjectMap, EncodingADecodedNumberGivesTheNumberBack)
{
    for (const auto co : CoNumber::All()) {
        const auto decoded = DecodeCo(co);
        if (!decoded) {
            continue;
        }
        if (const auto* stationCo = boost::get<BaseStationCo>(&*decoded)) {
            EXPECT_EQ(EncodeCo(*stationCo), co);
        }
    }
}

TEST(CommunicationObjectMap, DecodingAnEncodedTripleGivesTheTripleBack)
{
    std::set<int> seen;
    for (const auto station : BaseStationNumber::All()) {
        for (const auto thermostat : RoomThermostat::All()) {
            for (const auto function : RoomThermostatCoOffset::All()) {
                const auto co = EncodeCo(station, thermostat, function);
                EXPECT_TRUE(seen.insert(co.Value()).second) << co;
                const auto decoded = DecodeCo(co);
                ASSERT_TRUE(decoded);
                EXPECT_EQ(AsBaseStationCo(*decoded), (BaseStationCo{station, RoomThermostatCo(thermostat, function)}));
            }
        }
        for (const auto slot : ActorModuleSlot::All()) {
            for (const auto function : PowerLevelCoOffset::All()) {
                const auto co = EncodeCo(station, slot, function);
                EXPECT_TRUE(seen.insert(co.Value()).second) << co;
                const auto decoded = DecodeCo(co);
                ASSERT_TRUE(decoded);
                EXPECT_EQ(AsBaseStationCo(*decoded), (BaseStationCo{station, PowerLevelCo(slot, function)}));
            }
        }
        for (const auto function : BaseStationGeneralCo::All()) {
            const auto co = EncodeCo(station, function);
            EXPECT_TRUE(seen.insert(co.Value()).second) << co;
            const auto decoded = DecodeCo(co);
            ASSERT_TRUE(decoded);
            EXPECT_EQ(AsBaseStationCo(*decoded), (BaseStationCo{station, function}));
        }
    }
    // 5 stations x (24 thermostat + 60 power level + 2 general) COs.
    EXPECT_EQ(seen.size(), 5u * 86u);
}

TEST(CommunicationObjectMap, KnownNumbersDecodeAsDocumented)
{
    struct Case {
        int co;
        unsigned station;
        int kind;  // 0 thermostat, 1 power level, 2 general
        unsigned index;
        int function;
    };
    const Case cases[] = {
        {1, 1, 0, 1, 1},     {2, 1, 0, 1, 2},     {22, 1, 0, 8, 1},   {24, 1, 0, 8, 3},
        {101, 2, 0, 1, 1},   {37, 1, 1, 1, 37},   {96, 1, 1, 12, 41}, {137, 2, 1, 1, 37},
        {496, 5, 1, 12, 41}, {142, 2, 1, 2, 37},  {97, 1, 2, 0, 97},  {98, 1, 2, 0, 98},
        {498, 5, 2, 0, 98},  {424, 5, 0, 8, 3},   {437, 5, 1, 1, 37},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("CO " + std::to_string(c.co));
        const auto decoded = DecodeCo(Co(c.co));
        ASSERT_TRUE(decoded);
        const auto& co = AsBaseStationCo(*decoded);
        EXPECT_EQ(co.baseStation.Value(), c.station);
        EXPECT_EQ(static_cast<int>(co.function.which()), c.kind);
        if (const auto* thermostat = boost::get<RoomThermostatCo>(&co.function)) {
            EXPECT_EQ(thermostat->GetIndex().Value(), c.index);
            EXPECT_EQ(static_cast<int>(thermostat->GetOffset().Value()), c.function);
        } else if (const auto* powerLevel = boost::get<PowerLevelCo>(&co.function)) {
            EXPECT_EQ(powerLevel->GetIndex().Value(), c.index);
            EXPECT_EQ(static_cast<int>(powerLevel->GetOffset().Value()), c.function);
        } else if (const auto* general = boost::get<BaseStationGeneralCo>(&co.function)) {
            EXPECT_EQ(static_cast<int>(general->Value()), c.function);
        }
    }
}

TEST(CommunicationObjectMap, UnassignedNumbersDoNotDecode)
{
    for (const int co : {25, 36, 99, 100, 125, 136, 199, 200, 425, 436, 499, 500}) {
        EXPECT_FALSE(DecodeCo(Co(co))) << "CO " << co;
    }
}

TEST(CommunicationObjectMap, NumbersAboveTheBlocksAreSystemCos)
{
    for (const int co : {501, 504, 505, 509, 510, 517}) {
        const auto decoded = DecodeCo(Co(co));
        ASSERT_TRUE(decoded) << "CO " << co;
        const auto* system = boost::get<SystemCo>(&*decoded);
        ASSERT_NE(system, nullptr) << "CO " << co;
        EXPECT_EQ(static_cast<int>(system->Value()), co);
    }
}

TEST(CommunicationObjectMap, NumbersOutsideTheRangeAreNoCoNumbers)
{
    EXPECT_FALSE(CoNumber::Create(0));
    EXPECT_FALSE(CoNumber::Create(518));
}

TEST(CommunicationObjectMap, PrintsBaseStationCos)
{
    const std::pair<int, const char*> cases[] = {
        {142, "142(BaseStationCo) (2|(2|37)=42)"},
        {97, "97(BaseStationCo) (1|97)"},
        {23, "23(BaseStationCo) (1|(8|2)=23)"},
        {1, "1(BaseStationCo) (1|(1|1)=1)"},
        {496, "496(BaseStationCo) (5|(12|41)=96)"},
        {498, "498(BaseStationCo) (5|98)"},
    };
    for (const auto& [co, text] : cases) {
        const auto decoded = DecodeCo(Co(co));
        ASSERT_TRUE(decoded) << "CO " << co;
        EXPECT_EQ(Print(AsBaseStationCo(*decoded)), text);
    }
}
