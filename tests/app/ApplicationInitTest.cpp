// The application's initialisation from the ETS parameters and its
// lifecycle: what reaches the base station manager, the fatal lines of a
// configuration that cannot be used, Run and Exit.
#include <cstdint>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"

namespace Keldra {
namespace Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const std::string NotSpecified = "   ID: !!! Not specified in ETS download";

struct StationLayout {
    std::string id;
    std::vector<unsigned> actorModules;
    std::vector<std::string> thermostats;  // empty: no ID for that thermostat
};

std::vector<StationLayout> Layout(const BaseStationManager& manager)
{
    std::vector<StationLayout> layout;
    for (const auto& station : manager.GetBaseStations()) {
        StationLayout entry;
        entry.id = station->GetBaseStationID().Get();
        for (const auto& actorModule : station->GetActorModuleMapping()) {
            entry.actorModules.push_back(actorModule.GetActorModuleNumber().Value());
        }
        for (const auto& thermostat : station->GetRoomThermostatMapping()) {
            entry.thermostats.push_back(thermostat ? thermostat->GetID().Get().Get() : std::string());
        }
        layout.push_back(entry);
    }
    return layout;
}

class InitTest : public ::testing::Test {
public:
    // Station 1 only: 4 rooms, actor modules 3 and 5, THERM001 and THERM002.
    InitTest() : fixture({Station1()}) {}

    EtsParameters Parameters() const { return ParametersFor({Station1()}); }

    ApplicationFixture fixture;
};

TEST_F(InitTest, DefaultConfigurationReachesTheManager)
{
    ApplicationFixture two;
    ASSERT_TRUE(two.Init());

    ASSERT_NE(two.Manager(), nullptr);
    const auto layout = Layout(*two.Manager());
    ASSERT_EQ(layout.size(), 2u);
    EXPECT_EQ(layout[0].id, "A1B2C3D4E5");
    EXPECT_THAT(layout[0].actorModules, ElementsAre(3u, 5u));
    EXPECT_THAT(layout[0].thermostats, ElementsAre("THERM001", "THERM002"));
    EXPECT_EQ(layout[1].id, "B1B2C3D4E5");
    EXPECT_THAT(layout[1].actorModules, ElementsAre(1u));
    EXPECT_THAT(layout[1].thermostats, ElementsAre("THERM101"));

    EXPECT_THAT(two.log.Messages(log4cplus::INFO_LOG_LEVEL),
                ElementsAre("Number configured base stations: 2", "Configuring base station 1 (ID A1B2C3D4E5)",
                            "# rooms: 4", "# actor modules: 2", "# room thermostats: 2",
                            "Configuring base station 2 (ID B1B2C3D4E5)", "# rooms: 2", "# actor modules: 1",
                            "# room thermostats: 1", "Absence mode configuration: 0: at home, 1: absent",
                            "Configuration done", "Init done."));
    EXPECT_THAT(two.log.Messages(log4cplus::DEBUG_LOG_LEVEL),
                ElementsAre("   ID: 3", "   ID: 5", "   ID: THERM001", "   ID: THERM002", "   ID: 1", "   ID: THERM101"));
    EXPECT_THAT(two.log.Messages(log4cplus::FATAL_LOG_LEVEL), IsEmpty());
    // Nothing reaches the bus before Run.
    EXPECT_THAT(two.host.Sent(), IsEmpty());
}

TEST_F(InitTest, CreatesTheCredentialsFileInTheHostsConfigurationDirectoryAndRereadsIt)
{
    const auto file = fixture.ConfigurationDirectory() / "orubasestationconfig.json";
    boost::filesystem::remove(file);

    ASSERT_TRUE(fixture.Init());

    EXPECT_TRUE(boost::filesystem::is_regular_file(file));
    // The re-reading every 5 seconds is under way before Run.
    EXPECT_GE(fixture.clock.PendingWaitCount(), 1u);
}

TEST_F(InitTest, ActorModuleGroupsFillTheSlotsInOrderAndTheRestAreThermostats)
{
    struct Case {
        std::int32_t rooms;
        std::uint32_t modules1To8;
        std::uint32_t modules9To12;
        std::string thermostats;
        std::vector<unsigned> expectedModules;
        std::vector<std::string> expectedThermostats;
    };
    const std::vector<Case> cases = {
        {5, 0x321, 0, "THERM001THERM002", {1, 2, 3}, {"THERM001", "THERM002"}},
        {1, 0, 0, "THERM001", {}, {"THERM001"}},
        {1, 0xC, 0, "", {12}, {}},
        // Groups after the first zero group are not read.
        {4, 0x30201, 0, "THERM001THERM002THERM003", {1}, {"THERM001", "THERM002", "THERM003"}},
        {8, static_cast<std::uint32_t>(0x87654321), 0xFFFF, "", {1, 2, 3, 4, 5, 6, 7, 8}, {}},
        {12, static_cast<std::uint32_t>(0xCBA98765), 0x4321, "", {5, 6, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4}, {}},
        // Only the groups of rooms 9.. are read from the second value.
        {10, static_cast<std::uint32_t>(0x11111111), 0x221, "", {1, 1, 1, 1, 1, 1, 1, 1, 1, 2}, {}},
        {11, static_cast<std::uint32_t>(0x11111111), 0x21, "THERM001", {1, 1, 1, 1, 1, 1, 1, 1, 1, 2}, {"THERM001"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(::testing::Message() << "rooms " << test.rooms << ", modules 0x" << std::hex << test.modules1To8
                                          << " 0x" << test.modules9To12);
        ApplicationFixture single({Station1()});
        auto parameters = Parameters();
        parameters.numbers[1] = test.rooms;
        parameters.numbers[7] = static_cast<std::int32_t>(test.modules1To8);
        parameters.numbers[6] = static_cast<std::int32_t>(test.modules9To12);
        parameters.texts[2] = test.thermostats;
        single.SetParameters(parameters);

        ASSERT_TRUE(single.Init());
        const auto layout = Layout(*single.Manager());
        ASSERT_EQ(layout.size(), 1u);
        EXPECT_EQ(layout[0].actorModules, test.expectedModules);
        EXPECT_EQ(layout[0].thermostats, test.expectedThermostats);
        EXPECT_THAT(single.log.Messages(log4cplus::FATAL_LOG_LEVEL), IsEmpty());
    }
}

// One change to the parameters of station 1 (4 rooms, actor modules 3 and 5
// in parameter 7, THERM001THERM002 in text 2) or to the shared ones.
struct InitCase {
    const char* name;
    Oru::function<void(EtsParameters&)> change;
    bool succeeds;
    Lines fatal;             // every fatal line, in order
    std::size_t warnings;    // "Not specified in ETS download" lines
    std::vector<unsigned> actorModules;       // when it succeeds
    std::vector<std::string> thermostats;     // when it succeeds
};

const std::string SixtyCharacters = "A1B2C3D4E5B1B2C3D4E5C1B2C3D4E5D1B2C3D4E5E1B2C3D4E5F1B2C3D4E5";

const std::vector<InitCase> InitCases = {
    {"EmptyIds", [](EtsParameters& p) { p.texts[1] = ""; }, false, {"Invalid length of base module IDs: ''"}, 0, {}, {}},
    {"FiveCharacterIds", [](EtsParameters& p) { p.texts[1] = "A1B2C"; }, false,
     {"Invalid length of base module IDs: 'A1B2C'"}, 0, {}, {}},
    {"FifteenCharacterIds", [](EtsParameters& p) { p.texts[1] = "A1B2C3D4E5B1B2C"; }, false,
     {"Invalid length of base module IDs: 'A1B2C3D4E5B1B2C'"}, 0, {}, {}},
    {"SixtyCharacterIds", [](EtsParameters& p) { p.texts[1] = SixtyCharacters; }, false,
     {"Invalid length of base module IDs: '" + SixtyCharacters + "'"}, 0, {}, {}},
    {"MissingIds", [](EtsParameters& p) { p.texts.erase(1); }, false, {"Failed to retrieve base module IDs"}, 0, {}, {}},
    {"ZeroRooms", [](EtsParameters& p) { p.numbers[1] = 0; }, false,
     {"Invalid number of rooms: 0, Base station 1", "Failed to read number of rooms, base station 1"}, 0, {}, {}},
    {"ThirteenRooms", [](EtsParameters& p) { p.numbers[1] = 13; }, false,
     {"Invalid number of rooms: 13, Base station 1", "Failed to read number of rooms, base station 1"}, 0, {}, {}},
    {"NegativeRooms", [](EtsParameters& p) { p.numbers[1] = -1; }, false,
     {"Invalid number of rooms: -1, Base station 1", "Failed to read number of rooms, base station 1"}, 0, {}, {}},
    {"MissingRooms", [](EtsParameters& p) { p.numbers.erase(1); }, false,
     {"Failed to retrieve number of rooms: Base station 1", "Failed to read number of rooms, base station 1"}, 0, {},
     {}},
    {"InvalidGroupAtPosition2", [](EtsParameters& p) { p.numbers[7] = 0xD3; }, true, {"Invalid actor module ID:13"}, 1,
     {3}, {"THERM001", "THERM002", ""}},
    {"InvalidGroupInSecondValue",
     [](EtsParameters& p) {
         p.numbers[1] = 10;
         p.numbers[7] = static_cast<std::int32_t>(0x11111111);
         p.numbers[6] = 0xE1;
         p.texts[2] = "";
     },
     true, {"Invalid actor module ID:14"}, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1}, {""}},
    {"EightGroupsForFiveRooms",
     [](EtsParameters& p) {
         p.numbers[1] = 5;
         p.numbers[7] = static_cast<std::int32_t>(0x87654321);
     },
     false,
     {"!!! Inconsistent configuration: Base station 1, expected  5, got 8 actor modules, expecting invalid number of "
      "rooms with room thermostats: 4294967293"},
     0, {}, {}},
    {"MissingFirstActorModuleValue", [](EtsParameters& p) { p.numbers.erase(7); }, true,
     {"Failed to retrieve actor module IDs: Base station 1, Number Parameter 7"}, 2, {},
     {"THERM001", "THERM002", "", ""}},
    {"MissingSecondActorModuleValue",
     [](EtsParameters& p) {
         p.numbers[1] = 9;
         p.numbers[7] = static_cast<std::int32_t>(0x87654321);
         p.numbers.erase(6);
         p.texts[2] = "THERM001";
     },
     true, {"Failed to retrieve actor module IDs: Base station 1, Number Parameter 6"}, 0, {1, 2, 3, 4, 5, 6, 7, 8},
     {"THERM001"}},
    {"MissingThermostatIds", [](EtsParameters& p) { p.texts.erase(2); }, true,
     {"Failed to retrieve room thermostat IDs: Base station 1"}, 2, {3, 5}, {"", ""}},
    {"ShortThermostatText", [](EtsParameters& p) { p.texts[2] = "THERM001"; }, true, {}, 1, {3, 5}, {"THERM001", ""}},
    {"ThermostatTextOfInvalidLength", [](EtsParameters& p) { p.texts[2] = "THERM001TH"; }, true,
     {"Invalid length of room thermostat IDs: Base station 1, got: THERM001TH"}, 2, {3, 5}, {"", ""}},
    {"ThermostatIdOfInvalidUtf8", [](EtsParameters& p) { p.texts[2] = "THERM001THERM\xff" "02"; }, true,
     {"Invalid room thermostat ID:THERM\xff" "02"}, 1, {3, 5}, {"THERM001", ""}},
    // A two-byte character that crosses the boundary of two IDs.
    {"CharacterAcrossTwoIds", [](EtsParameters& p) { p.texts[2] = "THERM00\xc3\xa4HERM002"; }, true,
     {"Invalid room thermostat ID:THERM00\xc3"}, 2, {3, 5}, {"", ""}},
    {"MultiByteThermostatIds", [](EtsParameters& p) { p.texts[2] = "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f" "THERM002"; },
     true, {}, 0, {3, 5}, {"\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f", "THERM002"}},
    {"MoreThermostatIdsThanThermostats", [](EtsParameters& p) { p.texts[2] = "THERM001THERM002THERM003"; }, false,
     {"!!! Inconsistent configuration: Base station 1, expected  4, got 3 room thermostats, 2 actor modules"}, 0, {},
     {}},
    {"MissingAbsenceMode", [](EtsParameters& p) { p.numbers.erase(16); }, false, {"Failed to retrieve absence mode"}, 0,
     {}, {}},
    {"AbsenceModeSeven", [](EtsParameters& p) { p.numbers[16] = 7; }, false, {"Invalid absence mode: 7"}, 0, {}, {}},
    {"AbsenceModeMinusOne", [](EtsParameters& p) { p.numbers[16] = -1; }, false, {"Invalid absence mode: -1"}, 0, {},
     {}},
    {"AbsenceModeOne", [](EtsParameters& p) { p.numbers[16] = 1; }, true, {}, 0, {3, 5}, {"THERM001", "THERM002"}},
};

class InitCaseTest : public InitTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(InitCaseTest, LogsItsFatalLinesAndSucceedsOnlyWhenUsable)
{
    const auto& test = GetParam();
    auto parameters = Parameters();
    test.change(parameters);
    fixture.SetParameters(parameters);

    EXPECT_EQ(fixture.Init(), test.succeeds);

    EXPECT_EQ(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL), test.fatal);
    for (const auto& entry : fixture.log.Entries()) {
        if (entry.level == log4cplus::FATAL_LOG_LEVEL) {
            EXPECT_EQ(entry.source, "OruKeldraApp");
        }
    }
    EXPECT_EQ(fixture.log.Count(log4cplus::WARN_LOG_LEVEL, NotSpecified), test.warnings);
    EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Init done."), test.succeeds ? 1u : 0u);
    EXPECT_THAT(fixture.host.Sent(), IsEmpty());
    if (test.succeeds) {
        const auto layout = Layout(*fixture.Manager());
        ASSERT_EQ(layout.size(), 1u);
        EXPECT_EQ(layout[0].actorModules, test.actorModules);
        EXPECT_EQ(layout[0].thermostats, test.thermostats);
    }
}

INSTANTIATE_TEST_SUITE_P(Parameters, InitCaseTest, ::testing::ValuesIn(InitCases),
                         [](const ::testing::TestParamInfo<InitCase>& caseInfo) {
                             return std::string(caseInfo.param.name);
                         });

TEST_F(InitTest, AProblemOfTheSecondStationNamesIt)
{
    ApplicationFixture two;
    auto parameters = ParametersFor(DefaultStations());
    parameters.numbers[2] = 13;
    two.SetParameters(parameters);

    EXPECT_FALSE(two.Init());

    EXPECT_THAT(two.log.Messages(log4cplus::FATAL_LOG_LEVEL),
                ElementsAre("Invalid number of rooms: 13, Base station 2",
                            "Failed to read number of rooms, base station 2"));
    // Station 1 was registered before the failure and stays.
    EXPECT_EQ(two.Manager()->GetBaseStations().size(), 1u);
}

TEST_F(InitTest, FiveStationsAreTheMostThatFit)
{
    auto parameters = Parameters();
    parameters.texts[1] = "A1B2C3D4E5B1B2C3D4E5C1B2C3D4E5D1B2C3D4E5E1B2C3D4E5";
    for (int station = 2; station <= 5; ++station) {
        parameters.numbers[station] = 1;
        parameters.numbers[2 * station + 5] = 0;
        parameters.numbers[2 * station + 4] = 0;
        parameters.texts[station + 1] = "THERM" + std::to_string(station) + "01";
    }
    fixture.SetParameters(parameters);

    ASSERT_TRUE(fixture.Init());

    const auto layout = Layout(*fixture.Manager());
    ASSERT_EQ(layout.size(), 5u);
    EXPECT_EQ(layout[4].id, "E1B2C3D4E5");
    EXPECT_THAT(layout[4].thermostats, ElementsAre("THERM501"));
    EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Number configured base stations: 5"), 1u);
}

TEST_F(InitTest, ActorModuleParameterNumbers)
{
    const std::vector<std::pair<int, int>> expected = {{7, 6}, {9, 8}, {11, 10}, {13, 12}, {15, 14}};
    for (unsigned station = 1; station <= 5; ++station) {
        const auto number = *BaseStationNumber::CreateFrom(station);
        EXPECT_EQ(KeldraApp::ActorModuleNumberParameterID(number, ActorModuleIDsBundle::Modules1To8),
                  expected[station - 1].first);
        EXPECT_EQ(KeldraApp::ActorModuleNumberParameterID(number, ActorModuleIDsBundle::Modules9To12),
                  expected[station - 1].second);
    }
}

// ---------------------------------------------------------------------------
// Lifecycle

TEST_F(InitTest, InitTwiceFailsTheSecondTime)
{
    ASSERT_TRUE(fixture.Init());
    fixture.log.Clear();

    EXPECT_FALSE(fixture.Init());

    EXPECT_THAT(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL), ElementsAre("App host already registered."));
}

TEST_F(InitTest, InitWithoutHostFails)
{
    EXPECT_FALSE(fixture.app->Init(nullptr));

    EXPECT_THAT(fixture.log.Messages(log4cplus::FATAL_LOG_LEVEL), ElementsAre("No pointer to app host provided."));
    EXPECT_EQ(fixture.Manager(), nullptr);
    // The host can still register afterwards.
    EXPECT_TRUE(fixture.Init());
}

TEST_F(InitTest, RunPublishesTheInitialErrorStateAndStartsDiscovery)
{
    ASSERT_TRUE(fixture.Init());

    ASSERT_TRUE(fixture.app->Run());

    using Oru::Testing::SentValue;
    EXPECT_THAT(fixture.host.Sent(),
                ElementsAre(SentValue{503, false}, SentValue{504, std::string("-0:NoError")},
                            SentValue{502, std::string("NoError")}, SentValue{501, false}));
    EXPECT_THAT(fixture.host.LedCodes(), ElementsAre(-1));
    EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Running."), 1u);
    fixture.RunPending();
    EXPECT_THAT(fixture.network->Arguments("Browse"), ElementsAre("_https._tcp"));
    EXPECT_THAT(fixture.network->Arguments("Resolve"), ElementsAre("plavo-A1B2C3D4E5"));
}

TEST_F(InitTest, RunWithoutSuccessfulInitStartsNothing)
{
    EXPECT_FALSE(fixture.app->Run());
    auto parameters = Parameters();
    parameters.numbers.erase(16);
    fixture.SetParameters(parameters);
    ASSERT_FALSE(fixture.Init());

    EXPECT_FALSE(fixture.app->Run());

    EXPECT_THAT(fixture.host.Sent(), IsEmpty());
    fixture.RunPending();
    EXPECT_THAT(fixture.network->Arguments("Browse"), IsEmpty());
}

TEST_F(InitTest, ExitStopsDiscoveryPollingAndTheRuntimeAndForgetsTheHost)
{
    fixture.Start();
    const auto polls = fixture.WebApiOf(0)->Count(RequestKind::Status);

    fixture.app->Exit(&fixture.host);

    EXPECT_EQ(fixture.exitCalls, 1);
    EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Exited."), 1u);
    // The stops queued for the event loop end the polling for good.
    fixture.RunPending();
    fixture.clock.Advance(boost::chrono::seconds(60));
    EXPECT_EQ(fixture.WebApiOf(0)->Count(RequestKind::Status), polls);
    // The host is forgotten: it may register again.
    EXPECT_EQ(fixture.log.Count(log4cplus::FATAL_LOG_LEVEL, "App host already registered."), 0u);
}

TEST_F(InitTest, ExitWithAnotherHostStopsTheRuntimeButKeepsTheHost)
{
    ASSERT_TRUE(fixture.Init());
    Oru::Testing::RecordingHost other;

    fixture.app->Exit(&other);

    EXPECT_EQ(fixture.exitCalls, 1);
    EXPECT_FALSE(fixture.Init());
    EXPECT_EQ(fixture.log.Count(log4cplus::FATAL_LOG_LEVEL, "App host already registered."), 1u);
}

TEST_F(InitTest, ExitBeforeInitAndTwiceOnlyStopsTheRuntime)
{
    fixture.app->Exit(&fixture.host);
    fixture.app->Exit(nullptr);

    EXPECT_EQ(fixture.exitCalls, 2);
    EXPECT_EQ(fixture.log.Count(log4cplus::INFO_LOG_LEVEL, "Exited."), 2u);
}

TEST_F(InitTest, DestroyingTheApplicationStopsTheRuntime)
{
    ASSERT_TRUE(fixture.Init());
    ASSERT_TRUE(fixture.app->Run());

    fixture.app.reset();

    EXPECT_EQ(fixture.exitCalls, 1);
    // Whatever was still queued finds everything gone.
    fixture.clock.Advance(boost::chrono::seconds(60));
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
