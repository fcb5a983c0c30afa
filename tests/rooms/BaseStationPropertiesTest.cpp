#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "LogCapture.h"
#include "rooms/BaseStationProperties.h"

using namespace Keldra;
using log4cplus::ERROR_LOG_LEVEL;
using log4cplus::INFO_LOG_LEVEL;
using log4cplus::WARN_LOG_LEVEL;

namespace {

RoomThermostatIDString ThermostatId(const std::string& text)
{
    return *RoomThermostatIDString::Create(*Oru::UTF8String::Create(text));
}

Room R(unsigned int room) { return *Room::Create(room); }

const std::string StationId = "A1B2C3D4E5";

// A station with actor modules of the given numbers and room thermostats of
// the given IDs ("" for an empty element).
BaseStationProperties MakeProperties(const std::vector<unsigned int>& actorModuleNumbers,
                                     const std::vector<std::string>& thermostatIds)
{
    ActorModuleRoomIndexMapping actorModules;
    for (const auto number : actorModuleNumbers) {
        actorModules.emplace_back(*ActorModuleNumber::Create(number));
    }
    RoomThermostatRoomIndexMapping thermostats;
    for (const auto& id : thermostatIds) {
        if (id.empty()) {
            thermostats.emplace_back();
        } else {
            thermostats.emplace_back(RoomThermostatRoomIndexMappingInfo(ThermostatId(id)));
        }
    }
    return BaseStationProperties(BaseStationNumber::Constant<2>(), *BaseStationIdString::Create(StationId),
                                 std::move(actorModules), std::move(thermostats));
}

struct Line {
    log4cplus::LogLevel level;
    std::string message;

    friend bool operator==(const Line& a, const Line& b) { return a.level == b.level && a.message == b.message; }
    friend std::ostream& operator<<(std::ostream& stream, const Line& line)
    {
        return stream << line.level << ' ' << '"' << line.message << '"';
    }
};

// The lines this class logged, in order.
std::vector<Line> LinesOf(const Oru::Testing::LogCapture& log)
{
    std::vector<Line> lines;
    for (const auto& entry : log.Entries()) {
        if (entry.source == "BaseStationProperties") {
            lines.push_back({entry.level, entry.message});
        }
    }
    return lines;
}

boost::optional<Room> RoomOfThermostat(const BaseStationProperties& properties, std::size_t index)
{
    return properties.GetRoomThermostatMapping().at(index)->GetRoomIndex();
}

boost::optional<Room> RoomOfActorModule(const BaseStationProperties& properties, std::size_t index)
{
    return properties.GetActorModuleMapping().at(index).GetRoomIndex();
}

TEST(BaseStationProperties, CountsEveryConfiguredElementAsARoom)
{
    const auto properties = MakeProperties({3, 7}, {"TH000001", "", "TH000003"});
    EXPECT_EQ(properties.GetBaseStationNumber(), BaseStationNumber::Constant<2>());
    EXPECT_EQ(properties.GetBaseStationID().Get(), StationId);
    EXPECT_EQ(properties.GetNumberRooms(), R(5));
    ASSERT_EQ(properties.GetActorModuleMapping().size(), 2u);
    EXPECT_EQ(properties.GetActorModuleMapping()[1].GetActorModuleNumber(), ActorModuleNumber::Constant<7>());
    ASSERT_EQ(properties.GetRoomThermostatMapping().size(), 3u);
    EXPECT_FALSE(properties.GetRoomThermostatMapping()[1]);
    EXPECT_EQ(properties.GetRoomThermostatMapping()[2]->GetID(), ThermostatId("TH000003"));
}

TEST(BaseStationProperties, AnActorModuleEntryStartsAtMinimumLevelOneWithNothingReported)
{
    const ActorModuleRoomIndexMappingInfo entry(ActorModuleNumber::Constant<4>());
    EXPECT_EQ(entry.GetMinimumPowerLevel(), PowerLevel::Constant<1>());
    EXPECT_FALSE(entry.GetRoomIndex());
    EXPECT_FALSE(entry.GetSetpointPowerLevel());
    EXPECT_FALSE(entry.GetSetpointPowerLevelPercentage());
}

TEST(BaseStationPropertiesDeathTest, ARoomCountOutsideOneToTwelveEndsTheProgram)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";  // the logger runs threads
    EXPECT_DEATH(MakeProperties({}, {}), "numberRooms");
    EXPECT_DEATH(MakeProperties({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {"TH000001"}), "numberRooms");
    EXPECT_EQ(MakeProperties({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}).GetNumberRooms(), R(12));
}

struct ThermostatCompletenessCase {
    const char* name;
    std::vector<std::string> ids;
    std::vector<std::pair<std::string, unsigned int>> placed;  // ID, room
    bool complete;
    std::vector<std::string> warnings;
};

TEST(BaseStationProperties, ThermostatMappingCompleteness)
{
    const std::vector<ThermostatCompletenessCase> cases = {
        {"all placed", {"TH000001", "TH000002"}, {{"TH000001", 1}, {"TH000002", 2}}, true, {}},
        {"none placed", {"TH000001", "TH000002"}, {}, false, {"Missing room thermostat: TH000001"}},
        {"second missing", {"TH000001", "TH000002"}, {{"TH000001", 1}}, false, {"Missing room thermostat: TH000002"}},
        {"empty element only", {""}, {}, false, {}},
        {"empty element between placed ones", {"TH000001", "", "TH000003"}, {{"TH000001", 1}, {"TH000003", 3}},
         false, {}},
        {"empty element before a missing one", {"", "TH000002"}, {}, false, {}},
        {"missing one before an empty element", {"TH000001", ""}, {}, false, {"Missing room thermostat: TH000001"}},
    };
    for (const auto& testCase : cases) {
        auto properties = MakeProperties({}, testCase.ids);
        for (const auto& placement : testCase.placed) {
            properties.UpdateThermostatIdMapping(ThermostatId(placement.first), R(placement.second));
        }
        Oru::Testing::LogCapture log;
        EXPECT_EQ(properties.CheckRoomThermostatMappingComplete(), testCase.complete) << testCase.name;
        EXPECT_EQ(log.Messages(WARN_LOG_LEVEL), testCase.warnings) << testCase.name;
        EXPECT_EQ(LinesOf(log).size(), testCase.warnings.size()) << testCase.name;
    }
}

TEST(BaseStationProperties, AnEmptyThermostatMappingIsComplete)
{
    auto properties = MakeProperties({5}, {});
    Oru::Testing::LogCapture log;
    EXPECT_TRUE(properties.CheckRoomThermostatMappingComplete());
    EXPECT_TRUE(LinesOf(log).empty());
}

struct ActorCompletenessCase {
    const char* name;
    std::vector<unsigned int> numbers;
    std::vector<std::pair<unsigned int, unsigned int>> placed;  // number, room
    bool complete;
    std::vector<std::string> warnings;
};

TEST(BaseStationProperties, ActorModuleMappingCompleteness)
{
    const std::vector<ActorCompletenessCase> cases = {
        {"all placed", {4, 9}, {{4, 1}, {9, 2}}, true, {}},
        {"none placed", {4, 9}, {}, false, {"Missing actor module: 4"}},
        {"second missing", {4, 9}, {{4, 1}}, false, {"Missing actor module: 9"}},
        {"first missing", {4, 9}, {{9, 2}}, false, {"Missing actor module: 4"}},
    };
    for (const auto& testCase : cases) {
        auto properties = MakeProperties(testCase.numbers, {});
        for (const auto& placement : testCase.placed) {
            properties.UpdateActorModuleIdMapping(*ActorModuleNumber::Create(placement.first), R(placement.second));
        }
        Oru::Testing::LogCapture log;
        EXPECT_EQ(properties.CheckActorModuleMappingComplete(), testCase.complete) << testCase.name;
        EXPECT_EQ(log.Messages(WARN_LOG_LEVEL), testCase.warnings) << testCase.name;
        EXPECT_EQ(LinesOf(log).size(), testCase.warnings.size()) << testCase.name;
    }
    auto thermostatsOnly = MakeProperties({}, {"TH000001"});
    Oru::Testing::LogCapture log;
    EXPECT_TRUE(thermostatsOnly.CheckActorModuleMappingComplete());
    EXPECT_TRUE(LinesOf(log).empty());
}

TEST(BaseStationProperties, ConfigStateEvaluatesBothMappings)
{
    struct Case {
        bool placeThermostat;
        bool placeActorModule;
        BaseStationState state;
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases = {
        {true, true, BaseStationState::Complete, {}},
        {true, false, BaseStationState::ActorsMissing, {"Missing actor module: 6"}},
        {false, true, BaseStationState::ThermostatsMissing, {"Missing room thermostat: TH000001"}},
        {false, false, BaseStationState::ThermostatsAndActorsMissing,
         {"Missing room thermostat: TH000001", "Missing actor module: 6"}},
    };
    for (const auto& testCase : cases) {
        auto properties = MakeProperties({6}, {"TH000001"});
        if (testCase.placeThermostat) {
            properties.UpdateThermostatIdMapping(ThermostatId("TH000001"), R(1));
        }
        if (testCase.placeActorModule) {
            properties.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<6>(), R(2));
        }
        Oru::Testing::LogCapture log;
        EXPECT_EQ(properties.CheckConfigState(), testCase.state);
        EXPECT_EQ(log.Messages(WARN_LOG_LEVEL), testCase.warnings);
    }
}

TEST(BaseStationProperties, AThermostatOnlyStationNeverReportsAnActorModuleState)
{
    auto properties = MakeProperties({}, {"TH000001", "TH000002"});
    EXPECT_EQ(properties.CheckConfigState(), BaseStationState::ThermostatsMissing);
    properties.UpdateThermostatIdMapping(ThermostatId("TH000001"), R(1));
    EXPECT_EQ(properties.CheckConfigState(), BaseStationState::ThermostatsMissing);
    properties.UpdateThermostatIdMapping(ThermostatId("TH000002"), R(2));
    EXPECT_EQ(properties.CheckConfigState(), BaseStationState::Complete);
}

TEST(BaseStationProperties, ThermostatPlacementLogsOnlyWhenTheRoomChanges)
{
    auto properties = MakeProperties({}, {"TH000001", "TH000002"});
    Oru::Testing::LogCapture log;
    const std::string found = "Room thermostat TH000002 found at room index ";

    properties.UpdateThermostatIdMapping(ThermostatId("TH000002"), R(3));
    EXPECT_EQ(RoomOfThermostat(properties, 1), R(3));
    EXPECT_FALSE(RoomOfThermostat(properties, 0));
    properties.UpdateThermostatIdMapping(ThermostatId("TH000002"), R(3));
    properties.UpdateThermostatIdMapping(ThermostatId("TH000002"), R(12));
    EXPECT_EQ(RoomOfThermostat(properties, 1), R(12));
    properties.UpdateThermostatIdMapping(ThermostatId("XX000009"), R(4));  // unknown: nothing at all

    EXPECT_EQ(LinesOf(log), (std::vector<Line>{{INFO_LOG_LEVEL, found + "3 (" + StationId + ")"},
                                               {INFO_LOG_LEVEL, found + "12 (" + StationId + ")"}}));
    EXPECT_FALSE(RoomOfThermostat(properties, 0));
}

TEST(BaseStationProperties, ThermostatPlacementMatchesTheFirstEqualIdAndSkipsEmptyElements)
{
    auto properties = MakeProperties({}, {"", "TH000001", "TH000001"});
    properties.UpdateThermostatIdMapping(ThermostatId("TH000001"), R(5));
    EXPECT_EQ(RoomOfThermostat(properties, 1), R(5));
    EXPECT_FALSE(RoomOfThermostat(properties, 2));
    // IDs compare byte for byte
    properties.UpdateThermostatIdMapping(ThermostatId("th000001"), R(6));
    EXPECT_EQ(RoomOfThermostat(properties, 1), R(5));
}

TEST(BaseStationProperties, ActorModulePlacementLogsOnlyWhenTheRoomChanges)
{
    auto properties = MakeProperties({4, 8, 8}, {});
    Oru::Testing::LogCapture log;

    properties.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<8>(), R(2));
    properties.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<8>(), R(2));
    properties.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<8>(), R(7));
    properties.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<11>(), R(1));  // unknown

    EXPECT_FALSE(RoomOfActorModule(properties, 0));
    EXPECT_EQ(RoomOfActorModule(properties, 1), R(7));
    EXPECT_FALSE(RoomOfActorModule(properties, 2));  // only the first equal number
    EXPECT_EQ(LinesOf(log), (std::vector<Line>{{INFO_LOG_LEVEL, "Actor 8 found at room index 2 (" + StationId + ")"},
                                               {INFO_LOG_LEVEL, "Actor 8 found at room index 7 (" + StationId + ")"}}));
}

TEST(BaseStationProperties, ResetsClearOnlyTheRooms)
{
    auto properties = MakeProperties({4}, {"TH000001", ""});
    properties.UpdateThermostatIdMapping(ThermostatId("TH000001"), R(1));
    properties.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<4>(), R(2));
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), 10.0, 25.0);
    properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<1>(), 6, std::uint8_t{153});
    Oru::Testing::LogCapture log;

    properties.ResetRoomThermostatMappings();
    EXPECT_FALSE(RoomOfThermostat(properties, 0));
    EXPECT_EQ(RoomOfActorModule(properties, 0), R(2));
    properties.ResetActorModuleMappings();
    EXPECT_FALSE(RoomOfActorModule(properties, 0));

    const auto& thermostat = *properties.GetRoomThermostatMapping()[0];
    EXPECT_EQ(thermostat.GetID(), ThermostatId("TH000001"));
    EXPECT_EQ(thermostat.GetMinimumTemperature(), HalfDegreeTemperature::Constant<20>());
    EXPECT_EQ(thermostat.GetMaximumTemperature(), HalfDegreeTemperature::Constant<50>());
    EXPECT_FALSE(properties.GetRoomThermostatMapping()[1]);
    const auto& actorModule = properties.GetActorModuleMapping()[0];
    EXPECT_EQ(actorModule.GetActorModuleNumber(), ActorModuleNumber::Constant<4>());
    EXPECT_EQ(actorModule.GetSetpointPowerLevel(), std::uint8_t{6});
    EXPECT_EQ(actorModule.GetSetpointPowerLevelPercentage(), std::uint8_t{153});
    EXPECT_TRUE(LinesOf(log).empty());

    // placing again after a reset logs again
    properties.UpdateThermostatIdMapping(ThermostatId("TH000001"), R(1));
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "Room thermostat TH000001 found at room index 1 (" + StationId + ")"), 1u);
}

struct TemperatureCase {
    double degrees;
    boost::optional<unsigned char> halfDegrees;  // empty: ignored
};

std::ostream& operator<<(std::ostream& stream, const TemperatureCase& testCase)
{
    return stream << testCase.degrees;
}

class TemperatureLimit : public testing::TestWithParam<TemperatureCase> {};

// Each limit is converted on its own: a value stored or ignored as minimum is
// stored or ignored the same way as maximum, and an ignored one keeps the
// previous limit.
TEST_P(TemperatureLimit, RoundsToHalfDegreesWithinFiveToThirtyDegrees)
{
    const auto& testCase = GetParam();
    const auto expected = [&](unsigned char previous) {
        return HalfDegreeTemperature::Create(testCase.halfDegrees.value_or(previous));
    };
    auto properties = MakeProperties({}, {"TH000001"});
    const auto& thermostat = *properties.GetRoomThermostatMapping()[0];
    Oru::Testing::LogCapture log;

    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), testCase.degrees, testCase.degrees);
    EXPECT_EQ(thermostat.GetMinimumTemperature(), testCase.halfDegrees ? expected(0) : boost::none);
    EXPECT_EQ(thermostat.GetMaximumTemperature(), testCase.halfDegrees ? expected(0) : boost::none);

    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), 15.0, 27.0);
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), testCase.degrees, 22.0);
    EXPECT_EQ(thermostat.GetMinimumTemperature(), expected(30));
    EXPECT_EQ(thermostat.GetMaximumTemperature(), HalfDegreeTemperature::Constant<44>());
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), 15.0, testCase.degrees);
    EXPECT_EQ(thermostat.GetMinimumTemperature(), HalfDegreeTemperature::Constant<30>());
    EXPECT_EQ(thermostat.GetMaximumTemperature(), expected(44));

    EXPECT_TRUE(LinesOf(log).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TemperatureLimit,
    testing::Values(TemperatureCase{5.0, 10}, TemperatureCase{30.0, 60}, TemperatureCase{21.25, 43},
                    TemperatureCase{21.2, 42}, TemperatureCase{21.5, 43}, TemperatureCase{21.74, 43},
                    TemperatureCase{21.75, 44}, TemperatureCase{4.75, 10}, TemperatureCase{30.24, 60},
                    TemperatureCase{4.7, boost::none}, TemperatureCase{4.74, boost::none},
                    TemperatureCase{30.25, boost::none}, TemperatureCase{30.3, boost::none},
                    TemperatureCase{0.0, boost::none}, TemperatureCase{-0.0, boost::none},
                    TemperatureCase{-0.25, boost::none}, TemperatureCase{-1.0, boost::none},
                    TemperatureCase{-21.5, boost::none}, TemperatureCase{1e30, boost::none},
                    TemperatureCase{-1e30, boost::none},
                    TemperatureCase{std::numeric_limits<double>::max(), boost::none},
                    TemperatureCase{std::numeric_limits<double>::lowest(), boost::none},
                    TemperatureCase{std::numeric_limits<double>::denorm_min(), boost::none},
                    TemperatureCase{std::numeric_limits<double>::infinity(), boost::none},
                    TemperatureCase{-std::numeric_limits<double>::infinity(), boost::none},
                    TemperatureCase{std::numeric_limits<double>::quiet_NaN(), boost::none},
                    TemperatureCase{-std::numeric_limits<double>::quiet_NaN(), boost::none},
                    TemperatureCase{std::numeric_limits<double>::signaling_NaN(), boost::none},
                    TemperatureCase{255.0, boost::none}, TemperatureCase{4294967296.0, boost::none}));

TEST(BaseStationProperties, TemperatureRangeOfAThermostatBeyondTheMappingIsAnError)
{
    auto properties = MakeProperties({}, {"TH000001", ""});
    Oru::Testing::LogCapture log;

    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<3>(), 10.0, 25.0);
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<8>(), 10.0, 25.0);
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<2>(), 10.0, 25.0);  // empty: silent

    EXPECT_EQ(LinesOf(log),
              (std::vector<Line>{{ERROR_LOG_LEVEL, "Cannot update temperature range of non-existing room thermostat 3"},
                                 {ERROR_LOG_LEVEL, "Cannot update temperature range of non-existing room thermostat 8"}}));
    EXPECT_FALSE(properties.GetRoomThermostatMapping()[0]->GetMinimumTemperature());
    EXPECT_FALSE(properties.GetRoomThermostatMapping()[0]->GetMaximumTemperature());
}

struct PowerLevelStep {
    unsigned int level;
    boost::optional<unsigned int> percentage;
    ValueChangeState result;
    boost::optional<unsigned int> storedLevel;
    boost::optional<unsigned int> storedPercentage;
};

TEST(BaseStationProperties, PowerLevelUpdatesReportChanges)
{
    using V = ValueChangeState;
    const auto none = boost::none;
    // One slot, updated in this order.
    const std::vector<PowerLevelStep> steps = {
        {5, none, V::Changed, 5u, none},
        {5, none, V::Unchanged, 5u, none},
        {5, 128u, V::Changed, 5u, 128u},     // new percentage, same level
        {5, 128u, V::Unchanged, 5u, 128u},
        {5, 130u, V::Changed, 5u, 130u},
        {5, none, V::Unchanged, 5u, none},   // clearing the percentage is no change
        {6, 153u, V::Changed, 6u, 153u},
        {11, 200u, V::Unchanged, 6u, 153u},  // above 10: nothing stored, percentage untouched
        {11, none, V::Unchanged, 6u, 153u},
        {255, none, V::Unchanged, 6u, 153u},
        {7, 153u, V::Changed, 7u, 153u},     // new level, same percentage
        {10, 255u, V::Changed, 10u, 255u},
        {0, 0u, V::Changed, 0u, 0u},
        {0, 0u, V::Unchanged, 0u, 0u},
    };
    auto properties = MakeProperties({3, 9}, {});
    Oru::Testing::LogCapture log;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& step = steps[i];
        const auto percentage =
            step.percentage ? boost::optional<std::uint8_t>(static_cast<std::uint8_t>(*step.percentage)) : none;
        EXPECT_EQ(properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<2>(),
                                                      static_cast<std::uint8_t>(step.level), percentage),
                  step.result)
            << "step " << i;
        const auto& slot = properties.GetActorModuleMapping()[1];
        EXPECT_EQ(slot.GetSetpointPowerLevel().map([](std::uint8_t v) { return unsigned{v}; }), step.storedLevel)
            << "step " << i;
        EXPECT_EQ(slot.GetSetpointPowerLevelPercentage().map([](std::uint8_t v) { return unsigned{v}; }),
                  step.storedPercentage)
            << "step " << i;
    }
    EXPECT_FALSE(properties.GetActorModuleMapping()[0].GetSetpointPowerLevel());
    EXPECT_TRUE(LinesOf(log).empty());
}

TEST(BaseStationProperties, PowerLevelOfASlotBeyondTheMappingIsAnError)
{
    auto properties = MakeProperties({3, 9}, {"TH000001"});
    Oru::Testing::LogCapture log;

    EXPECT_EQ(properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<3>(), 5, boost::none),
              ValueChangeState::Unchanged);
    EXPECT_EQ(properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<12>(), 11, std::uint8_t{1}),
              ValueChangeState::Unchanged);

    EXPECT_EQ(LinesOf(log),
              (std::vector<Line>{{ERROR_LOG_LEVEL, "Cannot update power level of non-existing actor module 3"},
                                 {ERROR_LOG_LEVEL, "Cannot update power level of non-existing actor module 12"}}));
    for (const auto& slot : properties.GetActorModuleMapping()) {
        EXPECT_FALSE(slot.GetSetpointPowerLevel());
    }
}

TEST(BaseStationProperties, CopiesAreIndependent)
{
    auto original = MakeProperties({3}, {"TH000001"});
    auto copy = original;
    copy.UpdateThermostatIdMapping(ThermostatId("TH000001"), R(1));
    copy.UpdateActorModuleIdMapping(ActorModuleNumber::Constant<3>(), R(2));
    copy.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<1>(), 4, boost::none);
    EXPECT_FALSE(RoomOfThermostat(original, 0));
    EXPECT_FALSE(RoomOfActorModule(original, 0));
    EXPECT_FALSE(original.GetActorModuleMapping()[0].GetSetpointPowerLevel());
    EXPECT_EQ(copy.CheckConfigState(), BaseStationState::Complete);
}

}  // namespace
