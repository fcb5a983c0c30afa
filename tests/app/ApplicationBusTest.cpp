// Values between the bus and the simulated base stations, both ways: what
// the stations report reaches the bus; setpoints, power levels, steps,
// leaving home with its arrival and cooling reach the stations; every value
// that must not reach a station is refused with its line.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"

namespace Keldra {
namespace Testing {
namespace {

using boost::posix_time::ptime;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Level = unsigned char;
using Status = KeldraJson::StatusObject;
using BusValue =
    boost::variant<std::string, bool, Level, float, unsigned short, unsigned long, long, ptime, OruApp::TimeOfDay>;

const Lines GeneralError = {"502 text OutOfRangeVal", "501 switch true"};

ptime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return ptime(boost::gregorian::date(static_cast<unsigned short>(year), static_cast<unsigned short>(month),
                                        static_cast<unsigned short>(day)),
                 boost::posix_time::time_duration(hour, minute, second));
}

OruApp::TimeOfDay Time(int hour, int minute) { return *OruApp::TimeOfDay::Create(hour, minute); }

void Send(KeldraApp& app, int co, const BusValue& value)
{
    boost::apply_visitor([&app, co](const auto& typed) { app.OnValueReceived(co, typed); }, value);
}

// The writes to every station, in order: "1 room 3 setpoint 21.5",
// "2 leaving on until 2024-May-21 12:00:00"; each with the credentials.
Lines Writes(const ApplicationFixture& fixture)
{
    Lines writes;
    for (std::size_t station = 0; station < fixture.stations.size(); ++station) {
        for (const auto& request : fixture.WebApiOf(station)->Requests()) {
            std::ostringstream text;
            text << station + 1 << (request.room ? " room " + std::to_string(request.room->Value()) : "");
            if (request.kind == RequestKind::SetpointTemperature) {
                text << " setpoint " << request.temperature;
            } else if (request.kind == RequestKind::PowerLevel) {
                text << " level " << static_cast<unsigned>(request.level->Value());
            } else if (request.kind == RequestKind::LeavingHome || request.kind == RequestKind::CoolingMode) {
                text << (request.kind == RequestKind::LeavingHome ? " leaving " : " cooling ")
                     << (request.flag ? "on" : "off");
            } else {
                continue;
            }
            if (request.arrival) {
                text << " until " << *request.arrival;
            }
            writes.push_back(text.str());
            EXPECT_TRUE(request.credentials == Credentials({"installer", "secret"})) << text.str();
        }
    }
    return writes;
}

// The sends on the COs that `keep` accepts, in order.
Lines Only(Lines sent, const Oru::function<bool(int co)>& keep)
{
    sent.erase(std::remove_if(sent.begin(), sent.end(),
                              [&keep](const std::string& value) { return !keep(std::stoi(value)); }),
               sent.end());
    return sent;
}

class BusTest : public ::testing::Test {
public:
    // The stations found, checked and polled once; only what comes after
    // that is recorded.
    void Start(std::vector<SimulatedStation> stations = DefaultStations(), std::int32_t absenceMode = 0)
    {
        fixture = std::make_unique<ApplicationFixture>(std::move(stations), absenceMode);
        ASSERT_NO_FATAL_FAILURE(fixture->Start());
        fixture->ClearRecords();
    }
    // What the first poll of station 1 alone, its status shaped, publishes.
    Lines FirstPoll(const Oru::function<void(Status&)>& shape, std::int32_t absenceMode = 0)
    {
        auto station = Station1();
        shape(station.status);
        fixture = std::make_unique<ApplicationFixture>(std::vector<SimulatedStation>{station}, absenceMode);
        EXPECT_TRUE(fixture->Init());
        EXPECT_TRUE(fixture->app->Run());
        fixture->ClearRecords();
        fixture->RunPending();
        return fixture->host.Sent();
    }

    std::unique_ptr<ApplicationFixture> fixture;
};

// Which errors are new, and whether any station has one, the manager and
// the station decide; here each of them reaches its CO.
TEST_F(BusTest, EachPollPublishesTheSystemLeavingHomeNewErrorsAndEveryRoom)
{
    const auto sent = FirstPoll([](Status& status) {
        status.system.code = std::string("1-2");
        status.leavingHome = {false, std::string("24-05-24"), std::string("18:30")};
        status.errors = {{-3, boost::none, boost::none}, {-22, boost::none, boost::none}};
    });
    EXPECT_THAT(sent, ElementsAre("98 switch true", "517 switch true", "511 switch false",
                                  "513 date 2024-May-24 18:30:00", "515 time 18:30", "97 switch true",
                                  "503 switch true", "504 text -3:MissingThs", "504 text -22:ThermoBatt",
                                  // room 1: actor module 3 in slot 1, level 4 (4 * 255 / 10)
                                  "38 byte 4", "40 byte 102",
                                  // room 2: THERM002, nothing measured; room 3: THERM001
                                  "6 float 19.5", "1 float 20.5", "3 float 21",
                                  // room 4: actor module 5 in slot 2, level 7 with its percentage
                                  "43 byte 7", "45 byte 180"));
    EXPECT_THAT(fixture->host.LedCodes(), IsEmpty());
}

TEST_F(BusTest, AStationThatIsNotTheMasterPublishesOnlyItsOwnValues)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    fixture->Poll();
    const auto sent = fixture->host.Sent();
    EXPECT_THAT(Only(sent, [](int co) { return co / 100 == 1; }),
                ElementsAre("198 switch false", "197 switch false", "101 float 19", "103 float 20"));
    // Station 1 is the master: the installation-wide values come once.
    EXPECT_EQ(Only(sent, [](int co) { return co == 517 || co == 511; }).size(), 2u);
}

TEST_F(BusTest, EachStatusFieldReachesItsCos)
{
    struct Case {
        const char* name;
        Oru::function<void(Status&)> shape;
        std::int32_t absenceMode;
        std::vector<int> cos;
        Lines sent;  // on those COs
    };
    const std::vector<Case> cases = {
        // Anything but exactly "0-0" is an error of the station.
        {"SystemCodeWithSpace", [](Status& s) { s.system.code = std::string("0-0 "); }, 0, {98}, {"98 switch true"}},
        {"CoolingIsPublishedNegated", [](Status& s) { s.system.cooling = true; }, 0, {517}, {"517 switch false"}},
        // The leaving-home status has the polarity of the switch.
        {"LeavingInMode0", [](Status& s) { s.leavingHome.active = true; }, 0, {511}, {"511 switch true"}},
        {"LeavingInMode1", [](Status& s) { s.leavingHome.active = true; }, 1, {511}, {"511 switch false"}},
        // The arrival only when its texts read as a date and a time.
        {"ArrivalWithoutTime", [](Status& s) { s.leavingHome.date = std::string("24-05-17"); }, 0, {513, 515}, {}},
        // A level beyond ten, not published.
        {"LevelAboveTen", [](Status& s) { s.rooms[3].powerLevelControl->powerLevel = 11; }, 0, {43, 45}, {}},
        // A temperature a float cannot hold.
        {"HugeTemperature", [](Status& s) { s.rooms[2].thermostat->roomTemperature = 1e300; }, 0, {1, 3},
         {"3 float 21"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(Only(FirstPoll(test.shape, test.absenceMode),
                       [&test](int co) { return std::count(test.cos.begin(), test.cos.end(), co) > 0; }),
                  test.sent);
        EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL, "Invalid temperature received for CO 1: 1e+300"),
                  test.name == std::string("HugeTemperature") ? 1u : 0u);
    }
}

TEST_F(BusTest, RefusedSendsOfTheGatewayErrorAreLogged)
{
    fixture = std::make_unique<ApplicationFixture>();
    fixture->host.failingCos = {501, 502};
    ASSERT_TRUE(fixture->Init());
    ASSERT_TRUE(fixture->app->Run());

    EXPECT_THAT(fixture->log.Messages(log4cplus::WARN_LOG_LEVEL),
                ::testing::IsSupersetOf({"Failed to send last error (CO502): NoError",
                                         "Failed to send last error (CO501): false"}));
}

// As the format reads them (fields beyond it ignored, missing seconds 0,
// overflows carried), but a four-digit year or a text without two-digit
// date and time fields gives nothing, not what the reader makes of it.
TEST(ConvertDateToPtimeTest, ReadsTwoDigitYearDatesAndTimesAsTheFormatDoes)
{
    const std::string arrival = "%y-%m-%dT%H:%M", station = "%y-%m-%dT%H:%M:%S";
    const ptime none(boost::posix_time::not_a_date_time);
    const std::vector<std::tuple<std::string, std::string, std::string, ptime>> cases = {
        {"24-05-17", "18:30", arrival, At(2024, 5, 17, 18, 30)},
        {"24-05-17", "18:30:59", arrival, At(2024, 5, 17, 18, 30)},
        {"24-05-20", "10:00", station, At(2024, 5, 20, 10, 0)},
        {"99-12-31", "23:59:59", station, At(2099, 12, 31, 23, 59, 59)},
        {"24-05-17", "24:00", arrival, At(2024, 5, 18)},
        {"2024-05-20", "18:30", arrival, none},     // 2020-04-05 20:18
        {"2024-05-20", "18:30:00", station, none},  // 2020-04-05 20:18:30
        {"", "", arrival, none},                    // 1999-01-01 00:00
        {"24-05-17", "", station, none},            // midnight
        {"24-05", "18:30", arrival, none},          // 2024-05-19 06:00
        {"24-05-17", "18", arrival, none},          // 18:00
        {std::string("24-05-17\0", 9), "18:30", arrival, none},
    };
    Oru::Testing::LogCapture log;
    for (const auto& [date, time, format, expected] : cases) {
        EXPECT_EQ(KeldraApp::ConvertDateToPtime(date, time, format), expected) << date << " " << time << " " << format;
    }
    EXPECT_THAT(log.Entries(), IsEmpty());
}

// The integer part of (value + 0.25) * 2, from 10 to 60.
// Values from the bus, the writes they make and what their acceptance
// publishes. Station 1's slot 1 is at level 4.
struct Road {
    const char* name;
    std::vector<std::pair<int, BusValue>> values;
    Lines writes;
    Lines published;
    // The lines of the application's own decisions, each logged once; each
    // command's line is the manager's to test.
    Lines lines{};
    std::int32_t absenceMode = 0;
    // From two hours after the first poll the master's date cannot be read:
    // its time is estimated from the steady clock, 2024-05-20 12:00.
    bool estimatedStationTime = false;
};

// Asked for only when leaving home is switched on.
const std::string NotSet = "arrivalDate is not set, unable to generate arrivalDateTime";

const std::vector<Road> Roads = {
    // THERM001 is in station 1's room 3, THERM002 in room 2.
    {"Setpoint", {{2, 21.3f}}, {"1 room 3 setpoint 21.5"}, {"3 float 21.5"}},
    {"SecondThermostat", {{5, 19.0f}}, {"1 room 2 setpoint 19"}, {"6 float 19"}},
    {"SecondStation", {{102, 23.0f}}, {"2 room 1 setpoint 23"}, {"103 float 23"}},
    // The manager turns a missing value into the general error.
    {"SetpointNotANumber", {{2, std::numeric_limits<float>::quiet_NaN()}}, {}, GeneralError,
     {"SetpointTemperature - Value out of range (CO 2(BaseStationCo) (1|(1|2)=2)): nan"}},
    {"LevelAboveTen", {{37, Level(11)}}, {}, GeneralError,
     {"PowerLevel - Value out of range (CO 37(BaseStationCo) (1|(1|37)=37)): 0x0b"}},
    // The level, and the percentage as written or 255 / 10 per level; a
    // percentage gives the level rounded up.
    {"Level", {{37, Level(10)}}, {"1 room 1 level 10"}, {"38 byte 10", "40 byte 255"}},
    {"LevelOfSlot2", {{42, Level(6)}}, {"1 room 4 level 6"}, {"43 byte 6", "45 byte 153"}},
    {"Percent", {{39, Level(128)}}, {"1 room 1 level 6"}, {"38 byte 6", "40 byte 128"}},
    {"PercentZero", {{39, Level(0)}}, {"1 room 1 level 0"}, {"38 byte 0", "40 byte 0"}},
    {"StepsWithinTheWindow", {{41, true}, {41, true}, {41, true}}, {"1 room 1 level 7"}, {"38 byte 7", "40 byte 178"}},
    // Leaving home follows the absence mode, to every station; the master's
    // acceptance is published with the bus's polarity.
    {"LeavingInMode0", {{510, true}}, {"1 leaving on", "2 leaving on"}, {"511 switch true"}, {NotSet}},
    {"BackInMode0", {{510, false}}, {"1 leaving off", "2 leaving off"}, {"511 switch false"}},
    {"LeavingInMode1", {{510, false}}, {"1 leaving on", "2 leaving on"}, {"511 switch false"}, {NotSet}, 1},
    // Heating on the bus is cooling off; each station publishes heating.
    {"Heating", {{516, true}}, {"1 cooling off", "2 cooling off"}, {"517 switch true", "517 switch true"}},
    // An arrival a day after the station's time, estimated when its date cannot be read.
    {"ArrivalOneDayAhead", {{512, At(2024, 5, 21)}, {514, Time(12, 0)}, {510, true}},
     {"1 leaving on until 2024-May-21 12:00:00", "2 leaving on until 2024-May-21 12:00:00"},
     {"511 switch true", "513 date 2024-May-21 12:00:00", "515 time 12:00"}, {}, 0, true},
};

TEST_F(BusTest, ValuesFromTheBusReachTheStationsAndTheirAcceptanceIsPublished)
{
    QuietConsole quiet;
    for (const auto& road : Roads) {
        SCOPED_TRACE(road.name);
        ASSERT_NO_FATAL_FAILURE(Start(DefaultStations(), road.absenceMode));
        if (road.estimatedStationTime) {
            auto status = fixture->stations[0].status;
            status.system.date = "--";
            fixture->WebApiOf(0)->AnswerStatus(status);
            fixture->clock.Advance(boost::chrono::hours(2));
            fixture->ClearRecords();
        }

        for (const auto& [co, value] : road.values) {
            Send(*fixture->app, co, value);
        }
        // Handed to the event loop, which owns the stations.
        EXPECT_THAT(Writes(*fixture), IsEmpty());
        fixture->clock.Advance(boost::chrono::milliseconds(300));  // a step's window

        EXPECT_EQ(Writes(*fixture), road.writes);
        EXPECT_EQ(fixture->host.Sent(), road.published);
        for (const auto& line : road.lines) {
            EXPECT_EQ(fixture->log.CountContaining(line), 1u);
        }
        EXPECT_EQ(fixture->log.CountContaining("unable to generate arrivalDateTime"),
                  std::count(road.lines.begin(), road.lines.end(), NotSet));
    }
}

// Each line comes from its own branch. The decoding step that bool, BYTE and
// float share goes through all its branches with bool; BYTE and float only
// through the two that show each of their texts. Regression: a value for a
// station, thermostat or slot the installation does not have is dropped
// before the manager would switch an active leaving home off and refuse the
// index.
TEST_F(BusTest, EachRefusedValueLogsItsLineAndReachesNothing)
{
    const std::string co2 = "2(BaseStationCo) (1|(1|2)=2)";
    const std::string notConfigured = " of a base station, thermostat or actor slot that is not configured";
    const std::vector<std::tuple<int, BusValue, std::string>> cases = {
        {0, true, "Received unsupported bool on out-of-range  CO 0: true"},
        {99, false, "Could not decode CO 99. Received bool: false"},
        {505, true, "Received unsupported bool on non-BaseStationCo 505: true"},
        {2, true, "Received unsupported bool on non-PowerLevelCo " + co2 + ": true"},
        {139, false, "Received bool instead of BYTE on PowerLevelCo 139(BaseStationCo) (2|(1|39)=39): false"},
        {45, true, "Received bool on PowerLevelCo status CO 45(BaseStationCo) (1|(2|40)=45): true"},
        {518, Level(255), "Received unsupported BYTE on out-of-range CO 518: 0xff"},
        {198, Level(0x7f), "Received unsupported BYTE on non-PowerLevelCo 198(BaseStationCo) (2|98): 0x7f"},
        {40, Level(200), "Received BYTE on PowerLevelCo status CO 40(BaseStationCo) (1|(1|40)=40): 0xc8"},
        {41, Level(1), "Received BYTE instead of bool on PowerLevelCo 41(BaseStationCo) (1|(1|41)=41): 0x01"},
        {-1, 21.3f, "Received unsupported float on out-of-range CO -1: 21.3"},
        {97, 1.0f, "Received unsupported float on non-RoomThermostatCo 97(BaseStationCo) (1|97): 1"},
        {3, 21.3f, "Received float on RoomThermostatCo status CO 3(BaseStationCo) (1|(1|3)=3): 21.3"},
        {2, std::string("21.3"), "Received unsupported std::string on CO 2: 21.3"},
        {0, static_cast<unsigned short>(65535), "Received unsupported WORD on CO 0: 65535"},
        {39, 4294967295UL, "Received unsupported DWORD on CO 39: 4294967295"},
        {37, -5L, "Received unsupported LONG on CO 37: -5"},
        {513, At(2024, 5, 17, 18, 30), "Received unsupported boost::posix_time::ptime on CO 513: 2024-May-17 18:30:00"},
        {515, Time(18, 30), "Received unsupported OruApp::TimeOfDay on CO 515: 18:30"},
        {402, 21.3f, "Received value on CO 402(BaseStationCo) (5|(1|2)=2)" + notConfigured},
        {8, 21.3f, "Received value on CO 8(BaseStationCo) (1|(3|2)=8)" + notConfigured},
        {47, Level(5), "Received value on CO 47(BaseStationCo) (1|(3|37)=47)" + notConfigured},
        {146, false, "Received value on CO 146(BaseStationCo) (2|(2|41)=46)" + notConfigured},
    };
    auto leaving = Station1();
    leaving.status.leavingHome.active = true;
    ASSERT_NO_FATAL_FAILURE(Start({leaving, Station2()}));
    for (const auto& [co, value, line] : cases) {
        SCOPED_TRACE(line);
        fixture->ClearRecords();

        Send(*fixture->app, co, value);
        fixture->RunPending();

        const auto entries = fixture->log.Entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].level, log4cplus::WARN_LOG_LEVEL);
        EXPECT_EQ(entries[0].source, "OruKeldraApp");
        EXPECT_EQ(entries[0].message, line);
        EXPECT_THAT(fixture->host.Sent(), IsEmpty());
    }
    // Nothing written, not even after a step's window.
    fixture->clock.Advance(boost::chrono::milliseconds(300));
    EXPECT_THAT(Writes(*fixture), IsEmpty());
}

TEST(BusLifecycleTest, ValuesBeforeInitAndAfterExitDoNotReachAnything)
{
    ApplicationFixture fixture;
    const auto sendAll = [&fixture]() {
        for (const int co : {-1, 0, 2, 37, 39, 41, 510, 512, 514, 516, 518}) {
            for (const BusValue& value : {BusValue(std::string("x")), BusValue(true), BusValue(Level(5)),
                                          BusValue(21.3f), BusValue(static_cast<unsigned short>(5)), BusValue(5UL),
                                          BusValue(5L), BusValue(At(2024, 5, 21)), BusValue(Time(12, 0))}) {
                Send(*fixture.app, co, value);
            }
        }
    };

    sendAll();
    fixture.RunPending();
    EXPECT_EQ(fixture.log.Count(log4cplus::WARN_LOG_LEVEL, "Received float on CO 2 before initialisation: 21.3"), 1u);
    EXPECT_THAT(fixture.host.Sent(), IsEmpty());
    EXPECT_EQ(fixture.webApis.CreatedCount(), 0u);

    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    fixture.app->Exit(&fixture.host);
    fixture.ClearRecords();
    sendAll();
    // A level out of range is a gateway error at once, on this thread.
    fixture.app->OnValueReceived(37, Level(11));
    // The runtime is stopped: nothing runs any more, and nothing may reach
    // the host the application has let go of.
    EXPECT_THAT(fixture.host.Sent(), IsEmpty());
    EXPECT_EQ(fixture.log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO502): OutOfRangeVal"), 1u);
    EXPECT_EQ(fixture.log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO501): true"), 1u);
}

TEST(FatalErrorTest, EndsTheProcessWithExitStatus255)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ApplicationFixture fixture;
            fixture.app->OnGatewayFatalError();
        },
        ::testing::ExitedWithCode(255), "Application exited by KeldraApp::OnGatewayFatalError to trigger watchdog");
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
