// The application's initialisation from the ETS parameters and its
// lifecycle: what reaches the base station manager, the fatal lines of a
// configuration that cannot be used, Run and Exit.
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"

namespace Keldra {
namespace Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Each station as "ID: actor modules | thermostat IDs", "-" for a
// thermostat without an ID.
Lines Layout(const ApplicationFixture& fixture)
{
    Lines layout;
    for (const auto& station : fixture.Manager()->GetBaseStations()) {
        std::ostringstream text;
        text << station->GetBaseStationID().Get() << ":";
        for (const auto& actorModule : station->GetActorModuleMapping()) {
            text << " " << actorModule.GetActorModuleNumber().Value();
        }
        text << " |";
        for (const auto& thermostat : station->GetRoomThermostatMapping()) {
            text << " " << (thermostat ? thermostat->GetID().Get().Get() : std::string("-"));
        }
        layout.push_back(text.str());
    }
    return layout;
}

TEST(InitTest, DefaultConfigurationReachesTheManager)
{
    ApplicationFixture fixture;
    ASSERT_TRUE(fixture.Init());

    EXPECT_THAT(Layout(fixture), ElementsAre("A1B2C3D4E5: 3 5 | THERM001 THERM002", "B1B2C3D4E5: 1 | THERM101"));
    EXPECT_THAT(fixture.log.Messages(log4cplus::INFO_LOG_LEVEL),
                ElementsAre("Number configured base stations: 2", "Configuring base station 1 (ID A1B2C3D4E5)",
                            "# rooms: 4", "# actor modules: 2", "# room thermostats: 2",
                            "Configuring base station 2 (ID B1B2C3D4E5)", "# rooms: 2", "# actor modules: 1",
                            "# room thermostats: 1", "Absence mode configuration: 0: at home, 1: absent",
                            "Configuration done", "Init done."));
    EXPECT_THAT(fixture.log.Messages(log4cplus::DEBUG_LOG_LEVEL),
                ElementsAre("   ID: 3", "   ID: 5", "   ID: THERM001", "   ID: THERM002", "   ID: 1",
                            "   ID: THERM101"));
    EXPECT_THAT(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL), IsEmpty());
    // Nothing reaches the bus before Run.
    EXPECT_THAT(fixture.host.Sent(), IsEmpty());
}

// Changes to the parameters of station 1 alone (rooms in number 1, actor
// module groups in numbers 7 and 6, thermostat IDs in text 2) or to the
// shared ones (IDs in text 1, absence mode in number 16); none removes one.
struct InitCase {
    const char* name;
    std::map<int, std::optional<std::int64_t>> numbers;
    std::map<int, std::optional<std::string>> texts;
    Lines fatal;
    std::size_t missingIds = 0;  // warnings for thermostats without an ID
    std::string layout{};          // empty: Init fails
};

const std::string SixIds(60, 'A'), BadRooms = "Failed to read number of rooms, base station 1";
const auto none = std::nullopt;

const std::vector<InitCase> InitCases = {
    {"EmptyIds", {}, {{1, ""}}, {"Invalid length of base module IDs: ''"}},
    {"FifteenCharacterIds", {}, {{1, "A1B2C3D4E5B1B2C"}}, {"Invalid length of base module IDs: 'A1B2C3D4E5B1B2C'"}},
    {"SixIds", {}, {{1, SixIds}}, {"Invalid length of base module IDs: '" + SixIds + "'"}},
    {"MissingIds", {}, {{1, none}}, {"Failed to retrieve base module IDs"}},
    {"ZeroRooms", {{1, 0}}, {}, {"Invalid number of rooms: 0, Base station 1", BadRooms}},
    {"ThirteenRooms", {{1, 13}}, {}, {"Invalid number of rooms: 13, Base station 1", BadRooms}},
    {"MissingRooms", {{1, none}}, {}, {"Failed to retrieve number of rooms: Base station 1", BadRooms}},
    {"ModulesThenThermostats", {{1, 5}, {7, 0x321}}, {}, {}, 0, "1 2 3 | THERM001 THERM002"},
    {"ModuleTwelve", {{1, 1}, {7, 0xC}}, {{2, ""}}, {}, 0, "12 |"},
    // Groups after the first zero group are not read.
    {"GroupsEndAtZero", {{7, 0x30201}}, {{2, "THERM001THERM002THERM003"}}, {}, 0, "1 | THERM001 THERM002 THERM003"},
    // Only the groups of rooms 9.. are read from the second value.
    {"TwelveModules", {{1, 12}, {7, 0xCBA98765}, {6, 0x4321}}, {{2, ""}}, {}, 0, "5 6 7 8 9 10 11 12 1 2 3 4 |"},
    {"EightModules", {{1, 8}, {7, 0x87654321}, {6, 0xFFFF}}, {{2, ""}}, {}, 0, "1 2 3 4 5 6 7 8 |"},
    {"TenRooms", {{1, 10}, {7, 0x11111111}, {6, 0x221}}, {{2, ""}}, {}, 0, "1 1 1 1 1 1 1 1 1 2 |"},
    {"InvalidGroupAtPosition2", {{7, 0xD3}}, {}, {"Invalid actor module ID:13"}, 1, "3 | THERM001 THERM002 -"},
    {"InvalidGroupInSecondValue", {{1, 10}, {7, 0x11111111}, {6, 0xE1}}, {{2, ""}}, {"Invalid actor module ID:14"}, 1,
     "1 1 1 1 1 1 1 1 1 | -"},
    {"EightGroupsForFiveRooms", {{1, 5}, {7, 0x87654321}}, {},
     {"!!! Inconsistent configuration: Base station 1, expected  5, got 8 actor modules, expecting invalid number of "
      "rooms with room thermostats: 4294967293"}},
    {"MissingFirstActorModuleValue", {{7, none}}, {},
     {"Failed to retrieve actor module IDs: Base station 1, Number Parameter 7"}, 2, "| THERM001 THERM002 - -"},
    {"MissingSecondActorModuleValue", {{1, 9}, {7, 0x87654321}, {6, none}}, {{2, "THERM001"}},
     {"Failed to retrieve actor module IDs: Base station 1, Number Parameter 6"}, 0, "1 2 3 4 5 6 7 8 | THERM001"},
    {"MissingThermostatIds", {}, {{2, none}}, {"Failed to retrieve room thermostat IDs: Base station 1"}, 2,
     "3 5 | - -"},
    {"ShortThermostatText", {}, {{2, "THERM001"}}, {}, 1, "3 5 | THERM001 -"},
    {"ThermostatTextOfInvalidLength", {}, {{2, "THERM001TH"}},
     {"Invalid length of room thermostat IDs: Base station 1, got: THERM001TH"}, 2, "3 5 | - -"},
    {"ThermostatIdOfInvalidUtf8", {}, {{2, "THERM001THERM\xff" "02"}}, {"Invalid room thermostat ID:THERM\xff" "02"}, 1,
     "3 5 | THERM001 -"},
    // A two-byte character that crosses the boundary of two IDs.
    {"CharacterAcrossTwoIds", {}, {{2, "THERM00\xc3\xa4HERM002"}}, {"Invalid room thermostat ID:THERM00\xc3"}, 2,
     "3 5 | - -"},
    {"MultiByteThermostatIds", {}, {{2, "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f" "THERM002"}}, {}, 0,
     "3 5 | \xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f THERM002"},
    {"MoreThermostatIdsThanThermostats", {}, {{2, "THERM001THERM002THERM003"}},
     {"!!! Inconsistent configuration: Base station 1, expected  4, got 3 room thermostats, 2 actor modules"}},
    {"MissingAbsenceMode", {{16, none}}, {}, {"Failed to retrieve absence mode"}},
    {"AbsenceModeTwo", {{16, 2}}, {}, {}, 0, "3 5 | THERM001 THERM002"},
};

TEST(InitTest, LogsItsFatalLinesAndSucceedsOnlyWhenUsable)
{
    for (const auto& test : InitCases) {
        SCOPED_TRACE(test.name);
        ApplicationFixture fixture({Station1()});
        for (const auto& [id, value] : test.numbers) {
            if (value) {
                fixture.host.numbers[id] = static_cast<std::int32_t>(*value);
            } else {
                fixture.host.numbers.erase(id);
            }
        }
        for (const auto& [id, value] : test.texts) {
            if (value) {
                fixture.host.texts[id] = *value;
            } else {
                fixture.host.texts.erase(id);
            }
        }

        EXPECT_EQ(fixture.Init(), !test.layout.empty());

        EXPECT_EQ(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL), test.fatal);
        EXPECT_EQ(fixture.log.Count(log4cplus::WARN_LOG_LEVEL, "   ID: !!! Not specified in ETS download"),
                  test.missingIds);
        EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Init done."), test.layout.empty() ? 0u : 1u);
        if (!test.layout.empty()) {
            EXPECT_THAT(Layout(fixture), ElementsAre("A1B2C3D4E5: " + test.layout));
        }
    }
}

// Station n has its rooms in number n, its actor module groups in numbers
// 2n + 5 and 2n + 4 and its thermostat IDs in text n + 1. A problem names
// its station; the stations before it stay registered.
TEST(InitTest, FiveStationsAreTheMostThatFitEachWithItsOwnParameters)
{
    const Lines layout = {"A1B2C3D4E5: 3 5 | THERM001 THERM002", "B1B2C3D4E5: 1 1 1 1 1 1 1 1 2 |",
                          "C1B2C3D4E5: 1 1 1 1 1 1 1 1 3 |", "D1B2C3D4E5: 1 1 1 1 1 1 1 1 4 |",
                          "E1B2C3D4E5: 1 1 1 1 1 1 1 1 5 |"};
    const Lines fatal = {"Invalid number of rooms: 13, Base station 5",
                         "Failed to read number of rooms, base station 5"};
    for (const bool fifthUnusable : {false, true}) {
        SCOPED_TRACE(fifthUnusable);
        ApplicationFixture fixture({Station1()});
        fixture.host.texts[1] = "A1B2C3D4E5B1B2C3D4E5C1B2C3D4E5D1B2C3D4E5E1B2C3D4E5";
        // Station n: nine actor modules, the last of them number n.
        for (int station = 2; station <= 5; ++station) {
            fixture.host.numbers[station] = 9;
            fixture.host.numbers[2 * station + 5] = 0x11111111;
            fixture.host.numbers[2 * station + 4] = station;
            fixture.host.texts[station + 1] = "";
        }
        if (fifthUnusable) {
            fixture.host.numbers[5] = 13;
        }

        EXPECT_EQ(fixture.Init(), !fifthUnusable);

        EXPECT_EQ(Layout(fixture), Lines(layout.begin(), layout.end() - (fifthUnusable ? 1 : 0)));
        EXPECT_EQ(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL), fifthUnusable ? fatal : Lines());
    }
}

TEST(LifecycleTest, InitRefusesNoHostAndASecondRegistration)
{
    ApplicationFixture fixture;
    EXPECT_FALSE(fixture.app->Init(nullptr));
    EXPECT_EQ(fixture.Manager(), nullptr);
    EXPECT_TRUE(fixture.Init());
    EXPECT_FALSE(fixture.Init());

    EXPECT_THAT(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL),
                ElementsAre("No pointer to app host provided.", "App host already registered."));
}

TEST(LifecycleTest, RunPublishesTheInitialErrorStateAndStartsDiscoveryOnlyAfterASuccessfulInit)
{
    ApplicationFixture fixture({Station1()});
    EXPECT_FALSE(fixture.app->Run());
    fixture.host.numbers.erase(16);
    ASSERT_FALSE(fixture.Init());
    EXPECT_FALSE(fixture.app->Run());
    fixture.RunPending();
    EXPECT_THAT(fixture.host.Sent(), IsEmpty());
    EXPECT_THAT(fixture.network->Arguments("Browse"), IsEmpty());

    ApplicationFixture good({Station1()});
    ASSERT_TRUE(good.Init());
    ASSERT_TRUE(good.app->Run());

    EXPECT_THAT(good.host.Sent(),
                ElementsAre("503 switch false", "504 text -0:NoError", "502 text NoError", "501 switch false"));
    EXPECT_THAT(good.host.LedCodes(), ElementsAre(-1));
    EXPECT_EQ(good.log.Count(log4cplus::INFO_LOG_LEVEL, "Running."), 1u);
    good.RunPending();
    EXPECT_THAT(good.network->Arguments("Browse"), ElementsAre("_https._tcp"));
    EXPECT_THAT(good.network->Arguments("Resolve"), ElementsAre("plavo-A1B2C3D4E5"));
}

TEST(LifecycleTest, ExitStopsTheRuntimeAndPollingForGood)
{
    ApplicationFixture fixture;
    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    const auto polls = fixture.WebApiOf(0)->Count(RequestKind::Status);

    Oru::Testing::RecordingHost other;
    fixture.app->Exit(&other);
    EXPECT_EQ(fixture.exitCalls, 1);
    fixture.app->Exit(&fixture.host);
    fixture.app->Exit(nullptr);
    EXPECT_EQ(fixture.exitCalls, 3);
    EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Exited."), 3u);
    // The stops queued for the event loop end the polling for good.
    fixture.RunPending();
    fixture.clock.Advance(boost::chrono::seconds(60));
    EXPECT_EQ(fixture.WebApiOf(0)->Count(RequestKind::Status), polls);

    // The event loop is gone: an Init now would start nothing, so it fails,
    // with its own host or another.
    EXPECT_FALSE(fixture.Init());
    EXPECT_FALSE(fixture.app->Init(&other));
    EXPECT_EQ(fixture.log.Count(log4cplus::FATAL_LOG_LEVEL, "Init after Exit: the application has stopped."), 2u);
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
