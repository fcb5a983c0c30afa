#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/testing/LogCapture.h"
#include "rooms/BaseStationProperties.h"

using namespace Keldra;
using Lines = std::vector<std::string>;

namespace {

RoomThermostatIDString Id(const std::string& text)
{
    return *RoomThermostatIDString::Create(*Oru::UTF8String::Create(text));
}
Room R(unsigned room) { return *Room::Create(room); }
ActorModuleNumber Actor(unsigned number) { return *ActorModuleNumber::Create(number); }

// A station with actor modules of the given numbers and room thermostats of
// the given IDs ("" for an empty element).
BaseStationProperties Make(const std::vector<unsigned>& actorModules, const std::vector<std::string>& thermostats)
{
    ActorModuleRoomIndexMapping actors;
    for (const auto number : actorModules) {
        actors.emplace_back(Actor(number));
    }
    RoomThermostatRoomIndexMapping ids;
    for (const auto& id : thermostats) {
        ids.push_back(id.empty() ? boost::none : boost::make_optional(RoomThermostatRoomIndexMappingInfo(Id(id))));
    }
    return BaseStationProperties(BaseStationNumber::Constant<2>(), *BaseStationIdString::Create("A1B2C3D4E5"),
                                 std::move(actors), std::move(ids));
}

// The rooms reported, thermostats then actor modules: "-" for none, "x" for
// an empty element.
std::string Rooms(const BaseStationProperties& properties)
{
    const auto text = [](const boost::optional<Room>& room) { return room ? std::to_string(room->Value()) : "-"; };
    std::string rooms;
    for (const auto& thermostat : properties.GetRoomThermostatMapping()) {
        rooms += (thermostat ? text(thermostat->GetRoomIndex()) : "x") + " ";
    }
    for (const auto& actor : properties.GetActorModuleMapping()) {
        rooms += "| " + text(actor.GetRoomIndex());
    }
    return rooms;
}
// Half degrees, 0 for nothing reported.
int Value(const boost::optional<HalfDegreeTemperature>& value) { return value ? value->Value() : 0; }
// -1 for nothing reported.
int Number(const boost::optional<std::uint8_t>& value) { return value ? int{*value} : -1; }

TEST(BaseStationPropertiesDeathTest, CountsEveryConfiguredElementAsARoomFromOneToTwelve)
{
    EXPECT_EQ(Make({3, 7}, {"TH000001", "", "TH000003"}).GetNumberRooms(), R(5));
    EXPECT_EQ(Make({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}).GetNumberRooms(), R(12));
    testing::FLAGS_gtest_death_test_style = "threadsafe";  // the logger runs threads
    EXPECT_DEATH(Make({}, {}), "numberRooms");
    EXPECT_DEATH(Make({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {"TH000001"}), "numberRooms");
}

TEST(BaseStationProperties, ConfigStateWarnsOfTheFirstUnplacedElementOfEachMapping)
{
    // Actor modules, thermostats, the actor modules placed (number, room), the
    // thermostats placed (each in room 1), the state and the warnings.
    using Case = std::tuple<std::vector<unsigned>, std::vector<std::string>, std::vector<std::pair<unsigned, unsigned>>,
                            Lines, BaseStationState, Lines>;
    const std::string th1 = "Missing room thermostat: TH000001", act6 = "Missing actor module: 6";
    const Case cases[] = {
        {{6}, {"TH000001", "TH000002"}, {{6, 3}}, {"TH000001", "TH000002"}, BaseStationState::Complete, {}},
        {{}, {"TH000001", "TH000002"}, {}, {}, BaseStationState::ThermostatsMissing, {th1}},
        {{}, {"TH000001", "TH000002"}, {}, {"TH000001"}, BaseStationState::ThermostatsMissing,
         {"Missing room thermostat: TH000002"}},
        // An empty element is never complete and ends the check silently.
        {{}, {"TH000001", "", "TH000003"}, {}, {"TH000001", "TH000003"}, BaseStationState::ThermostatsMissing, {}},
        {{}, {"", "TH000002"}, {}, {}, BaseStationState::ThermostatsMissing, {}},
        {{}, {"TH000001", ""}, {}, {}, BaseStationState::ThermostatsMissing, {th1}},
        {{4, 9}, {}, {{9, 2}}, {}, BaseStationState::ActorsMissing, {"Missing actor module: 4"}},
        {{4, 9}, {}, {{4, 1}}, {}, BaseStationState::ActorsMissing, {"Missing actor module: 9"}},
        {{6}, {"TH000001"}, {}, {}, BaseStationState::ThermostatsAndActorsMissing, {th1, act6}},
    };
    for (const auto& [actors, thermostats, placedActors, placedThermostats, state, warnings] : cases) {
        SCOPED_TRACE(testing::PrintToString(actors) + testing::PrintToString(thermostats));
        auto properties = Make(actors, thermostats);
        for (const auto& [number, room] : placedActors) {
            properties.UpdateActorModuleIdMapping(Actor(number), R(room));
        }
        for (const auto& id : placedThermostats) {
            properties.UpdateThermostatIdMapping(Id(id), R(1));
        }
        Oru::Testing::LogCapture log;
        EXPECT_EQ(properties.CheckConfigState(), state);
        EXPECT_EQ(log.Messages(log4cplus::WARN_LOG_LEVEL), warnings);
        EXPECT_EQ(log.Entries().size(), warnings.size());
    }
}

TEST(BaseStationProperties, PlacementMatchesTheFirstEqualElementAndLogsOnlyChanges)
{
    auto properties = Make({4, 8, 8}, {"", "TH000002", "TH000002"});
    Oru::Testing::LogCapture log;
    for (const unsigned room : {3, 3, 12}) {
        properties.UpdateThermostatIdMapping(Id("TH000002"), R(room));
    }
    properties.UpdateThermostatIdMapping(Id("th000002"), R(6));  // IDs compare byte for byte
    properties.UpdateThermostatIdMapping(Id("XX000009"), R(4));
    for (const unsigned room : {2, 2, 7}) {
        properties.UpdateActorModuleIdMapping(Actor(8), R(room));
    }
    properties.UpdateActorModuleIdMapping(Actor(11), R(1));
    EXPECT_EQ(Rooms(properties), "x 12 - | -| 7| -");
    EXPECT_EQ(log.Messages(log4cplus::INFO_LOG_LEVEL),
              (Lines{"Room thermostat TH000002 found at room index 3 (A1B2C3D4E5)",
                     "Room thermostat TH000002 found at room index 12 (A1B2C3D4E5)",
                     "Actor 8 found at room index 2 (A1B2C3D4E5)", "Actor 8 found at room index 7 (A1B2C3D4E5)"}));
    EXPECT_EQ(log.Entries().size(), 4u);

    // Resets clear only the rooms.
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<2>(), 10.0, 25.0);
    properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<2>(), 6, std::uint8_t{153});
    properties.ResetRoomThermostatMappings();
    EXPECT_EQ(Rooms(properties), "x - - | -| 7| -");
    properties.ResetActorModuleMappings();
    EXPECT_EQ(Rooms(properties), "x - - | -| -| -");
    const auto& thermostat = *properties.GetRoomThermostatMapping()[1];
    EXPECT_EQ(std::make_pair(Value(thermostat.GetMinimumTemperature()), Value(thermostat.GetMaximumTemperature())),
              std::make_pair(20, 50));
    EXPECT_EQ(Number(properties.GetActorModuleMapping()[1].GetSetpointPowerLevel()), 6);
    EXPECT_EQ(Number(properties.GetActorModuleMapping()[1].GetSetpointPowerLevelPercentage()), 153);
}

// Each limit is converted on its own, to half degrees with quarters rounding
// up; a result outside 5..30 degrees keeps the previous limit.
TEST(BaseStationProperties, TemperatureLimitsWithinFiveToThirtyDegrees)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, int> cases[] = {  // degrees, half degrees (0: ignored)
        {5.0, 10}, {30.0, 60}, {21.25, 43}, {21.2, 42}, {21.74, 43}, {21.75, 44}, {4.75, 10}, {30.24, 60},
        {4.74, 0}, {30.25, 0}, {0.0, 0}, {-0.25, 0}, {255.0, 0}, {4294967296.0, 0}, {1e30, 0}, {-1e30, 0},
        {inf, 0}, {-inf, 0}, {nan, 0}};
    for (const auto& [degrees, halfDegrees] : cases) {
        SCOPED_TRACE(degrees);
        auto properties = Make({}, {"TH000001"});
        const auto& thermostat = *properties.GetRoomThermostatMapping()[0];
        const auto limits = [&] {
            return std::make_pair(Value(thermostat.GetMinimumTemperature()), Value(thermostat.GetMaximumTemperature()));
        };
        Oru::Testing::LogCapture log;
        properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), degrees, degrees);
        EXPECT_EQ(limits(), std::make_pair(halfDegrees, halfDegrees));
        properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), 15.0, 27.0);
        properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), degrees, 22.0);
        EXPECT_EQ(limits(), std::make_pair(halfDegrees ? halfDegrees : 30, 44));
        properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<1>(), 15.0, degrees);
        EXPECT_EQ(limits(), std::make_pair(30, halfDegrees ? halfDegrees : 44));
        EXPECT_TRUE(log.Entries().empty());
    }
}

TEST(BaseStationProperties, PowerLevelUpdatesReportChangesAndElementsBeyondTheMappingAreErrors)
{
    struct Step {
        int level, percentage;  // -1: no percentage
        ValueChangeState result;
        int storedLevel, storedPercentage;  // -1: none
    };
    const auto Changed = ValueChangeState::Changed, Unchanged = ValueChangeState::Unchanged;
    // One slot, updated in this order.
    const Step steps[] = {
        {5, -1, Changed, 5, -1},     {5, -1, Unchanged, 5, -1},  {5, 128, Changed, 5, 128},
        {5, 128, Unchanged, 5, 128}, {5, 130, Changed, 5, 130},
        {5, -1, Unchanged, 5, -1},  // clearing the percentage is no change
        {6, 153, Changed, 6, 153},
        {11, 200, Unchanged, 6, 153},  // above 10: nothing stored, percentage untouched
        {11, -1, Unchanged, 6, 153}, {255, -1, Unchanged, 6, 153},
        {7, 153, Changed, 7, 153},  // new level, same percentage
        {10, 255, Changed, 10, 255}, {0, 0, Changed, 0, 0},         {0, 0, Unchanged, 0, 0},
    };
    auto properties = Make({3, 9}, {"TH000001", ""});
    const auto& slot = properties.GetActorModuleMapping()[1];
    Oru::Testing::LogCapture log;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const auto& step = steps[i];
        const auto percentage =
            step.percentage < 0 ? boost::none : boost::make_optional(static_cast<std::uint8_t>(step.percentage));
        const auto level = static_cast<std::uint8_t>(step.level);
        EXPECT_EQ(properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<2>(), level, percentage), step.result);
        EXPECT_EQ(Number(slot.GetSetpointPowerLevel()), step.storedLevel);
        EXPECT_EQ(Number(slot.GetSetpointPowerLevelPercentage()), step.storedPercentage);
    }
    EXPECT_FALSE(properties.GetActorModuleMapping()[0].GetSetpointPowerLevel());
    EXPECT_TRUE(log.Entries().empty());

    // Elements beyond the mapping are errors; an empty element is silent.
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<3>(), 10.0, 25.0);
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<8>(), 10.0, 25.0);
    properties.UpdateAllowedTemperatureRange(RoomThermostat::Constant<2>(), 10.0, 25.0);
    EXPECT_EQ(properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<3>(), 5, boost::none), Unchanged);
    EXPECT_EQ(properties.UpdateSetpointPowerLevel(ActorModuleSlot::Constant<12>(), 11, std::uint8_t{1}), Unchanged);
    EXPECT_EQ(log.Messages(log4cplus::ERROR_LOG_LEVEL),
              (Lines{"Cannot update temperature range of non-existing room thermostat 3",
                     "Cannot update temperature range of non-existing room thermostat 8",
                     "Cannot update power level of non-existing actor module 3",
                     "Cannot update power level of non-existing actor module 12"}));
    EXPECT_EQ(log.Entries().size(), 4u);
    EXPECT_FALSE(properties.GetRoomThermostatMapping()[0]->GetMinimumTemperature());
    EXPECT_FALSE(properties.GetActorModuleMapping()[0].GetSetpointPowerLevel());
}

}  // namespace
