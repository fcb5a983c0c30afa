// Values from the bus through the application to the simulated base
// stations: setpoints, power levels and steps, leaving home with its
// arrival, cooling, and every value that must not reach a station.
#include <cmath>
#include <cstdint>
#include <functional>
#include <set>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"
#include "basestations/BaseStationRequestError.h"

namespace Keldra {
namespace Testing {
namespace {

using boost::posix_time::ptime;
using Oru::Testing::SentValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const Oru::WaitableTimer::Duration StepWindow = boost::chrono::milliseconds(300);

ptime At(int year, int month, int day, int hour = 0, int minute = 0)
{
    return ptime(boost::gregorian::date(static_cast<unsigned short>(year), static_cast<unsigned short>(month),
                                        static_cast<unsigned short>(day)),
                 boost::posix_time::hours(hour) + boost::posix_time::minutes(minute));
}

OruApp::TimeOfDay Time(int hour, int minute) { return *OruApp::TimeOfDay::Create(hour, minute); }

SimulatedStation Station1WithLevel(std::uint8_t level)
{
    auto station = Station1();
    station.status.rooms[0].powerLevelControl->powerLevel = level;
    return station;
}

class BusTest : public ::testing::Test {
public:
    // Both default stations found, checked and polled once; the records
    // of that are forgotten.
    void Start(std::vector<SimulatedStation> stations = DefaultStations(), std::int32_t absenceMode = 0)
    {
        fixture = std::make_unique<ApplicationFixture>(std::move(stations), absenceMode);
        ASSERT_NO_FATAL_FAILURE(fixture->Start());
        fixture->ClearRecords();
    }

    std::vector<WebApiRequest> Station1Requests(RequestKind kind) const { return fixture->WebApiOf(0)->Requests(kind); }

    std::unique_ptr<ApplicationFixture> fixture;
};

// ---------------------------------------------------------------------------
// The road of a setpoint

TEST_F(BusTest, SetpointReachesTheStationsRoomAndIsPublishedWhenAccepted)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const auto station1 = fixture->WebApiOf(0);

    fixture->app->OnValueReceived(2, 21.3f);
    // Handed to the event loop, which owns the station.
    EXPECT_EQ(station1->Count(RequestKind::SetpointTemperature), 0u);
    fixture->RunPending();

    const auto requests = station1->Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].room, *Room::CreateFrom(3));  // THERM001 is in the station's room 3
    EXPECT_EQ(requests[0].temperature, 21.5);
    ASSERT_TRUE(requests[0].credentials);
    EXPECT_EQ(requests[0].credentials->username, "installer");
    EXPECT_EQ(requests[0].credentials->password, "secret");
    EXPECT_EQ(fixture->WebApiOf(1)->Count(RequestKind::SetpointTemperature), 0u);
    EXPECT_THAT(fixture->host.Sent(), ElementsAre(SentValue{3, 21.5f}));
    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "Set temperature setpoint to '21.5' (0/0)"), 1u);
    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "   # set temperature (0/0) done"), 1u);
    EXPECT_THAT(fixture->errorCalls.Calls(), IsEmpty());
}

TEST_F(BusTest, EachThermostatCoReachesItsStationAndRoom)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    fixture->app->OnValueReceived(5, 19.0f);
    fixture->app->OnValueReceived(102, 23.0f);
    fixture->RunPending();

    const auto station1 = Station1Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(station1.size(), 1u);
    EXPECT_EQ(station1[0].room, *Room::CreateFrom(2));
    EXPECT_EQ(station1[0].temperature, 19.0);
    const auto station2 = fixture->WebApiOf(1)->Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(station2.size(), 1u);
    EXPECT_EQ(station2[0].room, *Room::CreateFrom(1));
    EXPECT_EQ(station2[0].temperature, 23.0);
    EXPECT_THAT(fixture->host.Sent(), ElementsAre(SentValue{6, 19.0f}, SentValue{103, 23.0f}));
}

struct RejectedWriteCase {
    const char* name;
    Oru::SystemResult<WriteResponseStatus> answer;
    Lines errorCalls;
    std::string lastError;
    std::vector<int> ledCodes;
};

TEST_F(BusTest, RejectedSetpointBecomesErrorHandlerCallsAndGatewayErrorOutputs)
{
    const std::vector<RejectedWriteCase> cases = {
        {"OutOfRange", WriteResponseStatus::OutOfRange,
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(12)"}, "OutOfRangeVal", {}},
        {"InvalidCookie", WriteResponseStatus::InvalidCookie, {"SetCommunicationError(1)", "HandleGeneralError(0)"},
         "CommError", {5}},
        {"CredentialsRefused", make_error_code(BaseStationRequestError::CredentialsRefused),
         {"SetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(0)"}, "InvalidCreds", {5}},
        {"ConnectionReset",
         boost::system::error_code(boost::system::errc::connection_reset, boost::system::system_category()),
         {"SetCommunicationError(1)", "HandleGeneralError(0)"}, "CommError", {5}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        fixture->WebApiOf(0)->AnswerWrite(RequestKind::SetpointTemperature, test.answer);
        // The station stays away once it is dropped.
        fixture->network->WithdrawAll();

        fixture->app->OnValueReceived(2, 21.3f);
        fixture->RunPending();

        EXPECT_EQ(Station1Requests(RequestKind::SetpointTemperature).size(), 1u);
        EXPECT_EQ(fixture->errorCalls.Calls(), test.errorCalls);
        EXPECT_THAT(fixture->host.Sent(),
                    ElementsAre(SentValue{502, test.lastError}, SentValue{501, true}));
        EXPECT_EQ(fixture->host.LedCodes(), test.ledCodes);
        EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "   # set temperature (0/0) done"), 1u);
    }
}

TEST_F(BusTest, SetpointOutsideTheRangeTheStationReportedIsNotWritten)
{
    auto station = Station1();
    station.status.rooms[2].thermostat->minimumTemperature = 18.0;
    station.status.rooms[2].thermostat->maximumTemperature = 24.0;
    ASSERT_NO_FATAL_FAILURE(Start({station}));

    fixture->app->OnValueReceived(2, 25.0f);
    fixture->RunPending();

    EXPECT_THAT(Station1Requests(RequestKind::SetpointTemperature), IsEmpty());
    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "SetpointTemperature - Value out of range (18,24): 25"),
              1u);
    EXPECT_THAT(fixture->host.Sent(), ElementsAre(SentValue{502, std::string("OutOfRangeVal")}, SentValue{501, true}));
}

// ---------------------------------------------------------------------------
// Conversions

struct HalfDegreeCase {
    float value;
    boost::optional<int> halfDegrees;
    std::string printed;
};

TEST_F(BusTest, SetpointsInHalfDegrees)
{
    const float infinity = std::numeric_limits<float>::infinity();
    const std::vector<HalfDegreeCase> cases = {
        {21.2f, 42, "21.2"},   {21.3f, 43, "21.3"},    {30.2f, 60, "30.2"},     {30.3f, boost::none, "30.3"},
        {4.7f, boost::none, "4.7"}, {133.0f, boost::none, "133"}, {5.0f, 10, "5"}, {4.75f, 10, "4.75"},
        {30.0f, 60, "30"},     {30.25f, boost::none, "30.25"}, {21.75f, 44, "21.75"}, {-0.0f, boost::none, "-0"},
        {0.0f, boost::none, "0"}, {-21.3f, boost::none, "-21.3"},
        {std::numeric_limits<float>::quiet_NaN(), boost::none, "nan"}, {infinity, boost::none, "inf"},
        {-infinity, boost::none, "-inf"}, {1e30f, boost::none, "1e+30"}, {-1e30f, boost::none, "-1e+30"},
        {std::numeric_limits<float>::max(), boost::none, "3.40282e+38"},
        {std::numeric_limits<float>::denorm_min(), boost::none, "1.4013e-45"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.printed);
        const auto converted = KeldraApp::ToHalfDegrees(test.value);
        EXPECT_EQ(converted ? boost::optional<int>(static_cast<int>(converted->Value())) : boost::none,
                  test.halfDegrees);

        ASSERT_NO_FATAL_FAILURE(Start());
        fixture->app->OnValueReceived(2, test.value);
        fixture->RunPending();

        const auto requests = Station1Requests(RequestKind::SetpointTemperature);
        if (test.halfDegrees) {
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].temperature, *test.halfDegrees * 0.5);
            EXPECT_THAT(fixture->errorCalls.Calls(), IsEmpty());
        } else {
            EXPECT_THAT(requests, IsEmpty());
            EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL,
                                         "SetpointTemperature - Value out of range (CO 2(BaseStationCo) (1|(1|2)=2)): " +
                                             test.printed),
                      1u);
            // The manager turns the missing value into the general error.
            EXPECT_THAT(fixture->errorCalls.Calls(), ElementsAre("HandleGeneralError(12)"));
            EXPECT_THAT(fixture->host.Sent(),
                        ElementsAre(SentValue{502, std::string("OutOfRangeVal")}, SentValue{501, true}));
        }
    }
}

TEST_F(BusTest, PowerLevelAndPercentReachTheSlotsRoom)
{
    struct Case {
        int co;
        unsigned char value;
        boost::optional<unsigned> level;  // written
        std::string logLine;              // the manager's command line
    };
    const std::vector<Case> cases = {
        {37, 0, 0u, "Set power level setpoint to '00' (0/0)"},
        {37, 10, 10u, "Set power level setpoint to '0a' (0/0)"},
        {42, 6, 6u, "Set power level setpoint to '06' (0/1)"},
        {39, 128, 6u, "Set power level percent setpoint to '80' (0/0)"},
        {39, 0, 0u, "Set power level percent setpoint to '00' (0/0)"},
        {39, 1, 1u, "Set power level percent setpoint to '01' (0/0)"},
        {39, 25, 1u, "Set power level percent setpoint to '19' (0/0)"},
        {39, 26, 2u, "Set power level percent setpoint to '1a' (0/0)"},
        {39, 200, 8u, "Set power level percent setpoint to 'c8' (0/0)"},
        {39, 230, 10u, "Set power level percent setpoint to 'e6' (0/0)"},
        {39, 255, 10u, "Set power level percent setpoint to 'ff' (0/0)"},
        {44, 51, 2u, "Set power level percent setpoint to '33' (0/1)"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(::testing::Message() << "CO " << test.co << " value " << static_cast<int>(test.value));
        ASSERT_NO_FATAL_FAILURE(Start());

        fixture->app->OnValueReceived(test.co, test.value);
        fixture->RunPending();

        const auto requests = Station1Requests(RequestKind::PowerLevel);
        ASSERT_EQ(requests.size(), 1u);
        const bool slot1 = test.co < 42;
        EXPECT_EQ(requests[0].room, *Room::CreateFrom(slot1 ? 1 : 4));
        EXPECT_EQ(requests[0].level, PowerLevel::CreateFrom(*test.level));
        EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, test.logLine), 1u);
        // Published at once: the level, and the percentage as written.
        const int statusCo = slot1 ? 38 : 43;
        const bool percent = test.co == 39 || test.co == 44;
        const unsigned char expectedPercent =
            percent ? test.value : static_cast<unsigned char>(*test.level * 255 / 10);
        EXPECT_EQ(SentOn(fixture->host, statusCo), OnCo(statusCo, {static_cast<unsigned char>(*test.level)}));
        EXPECT_EQ(SentOn(fixture->host, statusCo + 2), OnCo(statusCo + 2, {expectedPercent}));
    }
}

TEST_F(BusTest, PowerLevelAboveTenIsRejectedWithTheGeneralError)
{
    ASSERT_NO_FATAL_FAILURE(Start());

    fixture->app->OnValueReceived(37, static_cast<unsigned char>(11));
    fixture->RunPending();

    EXPECT_THAT(Station1Requests(RequestKind::PowerLevel), IsEmpty());
    EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL,
                                 "PowerLevel - Value out of range (CO 37(BaseStationCo) (1|(1|37)=37)): 0x0b"),
              1u);
    EXPECT_THAT(fixture->errorCalls.Calls(), ElementsAre("HandleGeneralError(12)"));
    EXPECT_THAT(fixture->host.Sent(), ElementsAre(SentValue{502, std::string("OutOfRangeVal")}, SentValue{501, true}));
}

// ---------------------------------------------------------------------------
// Steps

TEST_F(BusTest, StepsWithinTheWindowBecomeOneWrite)
{
    ASSERT_NO_FATAL_FAILURE(Start({Station1WithLevel(4)}));

    for (int press = 0; press < 3; ++press) {
        fixture->app->OnValueReceived(41, true);
        fixture->clock.Advance(boost::chrono::milliseconds(100));
    }
    fixture->clock.Advance(boost::chrono::milliseconds(199));
    EXPECT_THAT(Station1Requests(RequestKind::PowerLevel), IsEmpty());
    fixture->clock.Advance(boost::chrono::milliseconds(1));

    const auto requests = Station1Requests(RequestKind::PowerLevel);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].level, PowerLevel::Constant<7>());
    EXPECT_EQ(requests[0].room, *Room::CreateFrom(1));
    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "Set power level step 'up' (0/0)"), 3u);
    EXPECT_EQ(SentOn(fixture->host, 38), OnCo(38, {static_cast<unsigned char>(7)}));
    EXPECT_EQ(SentOn(fixture->host, 40), OnCo(40, {static_cast<unsigned char>(178)}));
    // Nothing further.
    fixture->clock.Advance(StepWindow * 2);
    EXPECT_EQ(Station1Requests(RequestKind::PowerLevel).size(), 1u);
}

TEST_F(BusTest, AnAbsoluteWriteDuringTheWindowDropsTheSteps)
{
    ASSERT_NO_FATAL_FAILURE(Start({Station1WithLevel(4)}));

    fixture->app->OnValueReceived(41, true);
    fixture->app->OnValueReceived(41, true);
    fixture->RunPending();
    fixture->app->OnValueReceived(37, static_cast<unsigned char>(9));
    fixture->RunPending();
    fixture->clock.Advance(StepWindow * 2);

    const auto requests = Station1Requests(RequestKind::PowerLevel);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].level, PowerLevel::Constant<9>());
    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "Combining of powerlevel steps canceled"), 1u);
}

TEST_F(BusTest, StepsAreClampedToTheMinimumAndToTen)
{
    struct Case {
        std::uint8_t level;
        std::vector<bool> presses;
        boost::optional<unsigned> written;
    };
    const std::vector<Case> cases = {
        {8, {true, true, true, true, true}, 10u},
        {2, {false, false, false}, 1u},
        {1, {false}, boost::none},
        {0, {true}, 1u},
        {0, {false}, 1u},
        {10, {true}, boost::none},
        {4, {true, false, true}, 5u},
        {4, {true, false}, boost::none},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(::testing::Message() << "from " << static_cast<int>(test.level) << ", " << test.presses.size()
                                          << " presses");
        ASSERT_NO_FATAL_FAILURE(Start({Station1WithLevel(test.level)}));
        for (const bool up : test.presses) {
            fixture->app->OnValueReceived(41, up);
        }
        fixture->clock.Advance(StepWindow);

        const auto requests = Station1Requests(RequestKind::PowerLevel);
        if (test.written) {
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].level, PowerLevel::CreateFrom(*test.written));
        } else {
            EXPECT_THAT(requests, IsEmpty());
        }
    }
}

TEST_F(BusTest, StepOfTheSecondStationsSlot)
{
    ASSERT_NO_FATAL_FAILURE(Start());

    fixture->app->OnValueReceived(141, false);
    fixture->clock.Advance(StepWindow);

    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "Set power level step 'down' (1/0)"), 1u);
    const auto requests = fixture->WebApiOf(1)->Requests(RequestKind::PowerLevel);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].level, PowerLevel::Constant<1>());
    EXPECT_EQ(requests[0].room, *Room::CreateFrom(2));
}

// ---------------------------------------------------------------------------
// Leaving home, cooling

TEST_F(BusTest, LeavingHomeSwitchPolarityFollowsTheAbsenceMode)
{
    struct Case {
        std::int32_t absenceMode;
        bool bus;
        bool leaving;
    };
    for (const auto& test : std::vector<Case>{{0, true, true}, {0, false, false}, {1, true, false}, {1, false, true}}) {
        SCOPED_TRACE(::testing::Message() << "mode " << test.absenceMode << ", bus " << test.bus);
        ASSERT_NO_FATAL_FAILURE(Start(DefaultStations(), test.absenceMode));

        fixture->app->OnValueReceived(510, test.bus);
        fixture->RunPending();

        const auto requests = fixture->Requests(RequestKind::LeavingHome);
        ASSERT_EQ(requests.size(), 2u);  // every station
        for (const auto& request : requests) {
            EXPECT_EQ(request.flag, test.leaving);
            EXPECT_FALSE(request.arrival);
        }
        EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL,
                                     std::string("Set leaving home to '") + (test.leaving ? "on" : "off") + "'"),
                  1u);
        // The master's accepted write is published with the same polarity.
        EXPECT_EQ(SentOn(fixture->host, 511), OnCo(511, {test.bus}));
    }
}

// The master reports 24-05-20 10:00:00 and then a time that cannot be read,
// so the application estimates the station's time from the steady clock.
// The gateway's wall clock, years after 2024, plays no part.
struct ArrivalCase {
    const char* name;
    Oru::WaitableTimer::Duration sinceReport;
    ptime date;
    OruApp::TimeOfDay time;
    boost::optional<ptime> sent;
};

TEST_F(BusTest, ArrivalIsSentOnlyOneDayOrMoreAfterTheStationsEstimatedTime)
{
    const auto twoHours = boost::chrono::hours(2);
    const std::vector<ArrivalCase> cases = {
        {"TwoHoursLaterOneMinuteShort", twoHours, At(2024, 5, 21), Time(11, 59), boost::none},
        {"TwoHoursLaterExactlyOneDay", twoHours, At(2024, 5, 21), Time(12, 0), At(2024, 5, 21, 12, 0)},
        {"AtOnceExactlyOneDay", boost::chrono::seconds(0), At(2024, 5, 21), Time(10, 0), At(2024, 5, 21, 10, 0)},
        {"AtOnceOneMinuteShort", boost::chrono::seconds(0), At(2024, 5, 21), Time(9, 59), boost::none},
        // The date keeps its own time of day.
        {"DateWithTimeOfDay", twoHours, At(2024, 5, 21, 1, 0), Time(11, 0), At(2024, 5, 21, 12, 0)},
        {"MonthsAhead", twoHours, At(2024, 12, 24), Time(23, 59), At(2024, 12, 24, 23, 59)},
    };
    QuietConsole quiet;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_NO_FATAL_FAILURE(Start({Station1()}));
        auto status = fixture->stations[0].status;
        status.system.date = "--";
        fixture->WebApiOf(0)->AnswerStatus(status);
        fixture->clock.Advance(test.sinceReport);

        fixture->app->OnValueReceived(512, test.date);
        fixture->app->OnValueReceived(514, test.time);
        fixture->app->OnValueReceived(510, true);
        fixture->RunPending();

        const auto requests = fixture->Requests(RequestKind::LeavingHome);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(requests[0].flag);
        EXPECT_EQ(requests[0].arrival, test.sent);
        EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "arrivalDateTime is not more than one day in the future"),
                  test.sent ? 0u : 1u);
        if (test.sent) {
            // The master's accepted write publishes the arrival.
            EXPECT_THAT(SentOn(fixture->host, 513), ElementsAre(SentValue{513, *test.sent}));
            EXPECT_THAT(SentOn(fixture->host, 515),
                        ElementsAre(SentValue{515, *OruApp::TimeOfDay::FromBoostPosixPtime(*test.sent)}));
        }
    }
}

TEST_F(BusTest, LeavingHomeWithoutWhatTheArrivalNeedsIsSentWithoutArrival)
{
    struct Case {
        const char* name;
        boost::optional<ptime> date;
        boost::optional<OruApp::TimeOfDay> time;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"NoDate", boost::none, Time(12, 0), "arrivalDate is not set, unable to generate arrivalDateTime"},
        {"NoTime", At(2024, 6, 1), boost::none, "arrivalTime is not set, unable to generate arrivalDateTime"},
        {"NotADateTime", ptime(boost::posix_time::not_a_date_time), Time(0, 0),
         "arrivalDate is not a valid date, unable to generate arrivalDateTime"},
        {"PositiveInfinity", ptime(boost::posix_time::pos_infin), Time(23, 59),
         "arrivalDate is not a valid date, unable to generate arrivalDateTime"},
        {"NegativeInfinity", ptime(boost::posix_time::neg_infin), Time(0, 0),
         "arrivalDate is not a valid date, unable to generate arrivalDateTime"},
        {"LastDate", At(9999, 12, 31), Time(23, 59), ""},
        {"FirstDate", At(1400, 1, 1), Time(0, 0), "arrivalDateTime is not more than one day in the future"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        if (test.date) {
            fixture->app->OnValueReceived(512, *test.date);
        }
        if (test.time) {
            fixture->app->OnValueReceived(514, *test.time);
        }
        fixture->app->OnValueReceived(510, true);
        fixture->RunPending();

        const auto requests = fixture->Requests(RequestKind::LeavingHome);
        ASSERT_EQ(requests.size(), 2u);
        if (test.line.empty()) {
            EXPECT_EQ(requests[0].arrival, At(9999, 12, 31, 23, 59));
        } else {
            EXPECT_FALSE(requests[0].arrival);
            EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, test.line), 1u);
        }
    }
}

TEST_F(BusTest, LeavingHomeOffDoesNotLookAtTheArrival)
{
    ASSERT_NO_FATAL_FAILURE(Start());

    fixture->app->OnValueReceived(510, false);
    fixture->RunPending();

    EXPECT_EQ(fixture->Count(RequestKind::LeavingHome), 2u);
    EXPECT_EQ(fixture->log.CountContaining("arrival"), 0u);
}

TEST_F(BusTest, HeatingOnTheBusIsCoolingOffAtEveryStation)
{
    ASSERT_NO_FATAL_FAILURE(Start());

    fixture->app->OnValueReceived(516, true);
    fixture->RunPending();

    const auto requests = fixture->Requests(RequestKind::CoolingMode);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].flag);
    EXPECT_FALSE(requests[1].flag);
    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "Set cooling mode to 'off'"), 1u);
    // Each accepted write publishes heating.
    EXPECT_EQ(SentOn(fixture->host, 517), OnCo(517, {true, true}));
}

TEST_F(BusTest, ARoomValueSwitchesAnActiveLeavingHomeOffFirst)
{
    auto station = Station1();
    station.status.leavingHome.active = true;
    ASSERT_NO_FATAL_FAILURE(Start({station, Station2()}));

    fixture->app->OnValueReceived(2, 21.3f);
    fixture->RunPending();

    EXPECT_EQ(fixture->log.Count(log4cplus::INFO_LOG_LEVEL, "Auto-disabling leaving home mode"), 1u);
    const auto leaving = fixture->Requests(RequestKind::LeavingHome);
    ASSERT_EQ(leaving.size(), 2u);
    EXPECT_FALSE(leaving[0].flag);
    EXPECT_EQ(Station1Requests(RequestKind::SetpointTemperature).size(), 1u);
}

TEST_F(BusTest, AValueOnACoThatIsNotConfiguredLeavesEveryStationAlone)
{
    // Leaving home active: the manager would switch it off before it looks
    // at the index.
    auto station = Station1();
    station.status.leavingHome.active = true;
    ASSERT_NO_FATAL_FAILURE(Start({station, Station2()}));
    const std::vector<std::pair<Oru::function<void(KeldraApp&)>, std::string>> cases = {
        {[](KeldraApp& app) { app.OnValueReceived(402, 21.3f); }, "402(BaseStationCo) (5|(1|2)=2)"},
        {[](KeldraApp& app) { app.OnValueReceived(8, 21.3f); }, "8(BaseStationCo) (1|(3|2)=8)"},
        {[](KeldraApp& app) { app.OnValueReceived(105, 4.0f); }, "105(BaseStationCo) (2|(2|2)=5)"},
        {[](KeldraApp& app) { app.OnValueReceived(47, static_cast<unsigned char>(5)); }, "47(BaseStationCo) (1|(3|37)=47)"},
        {[](KeldraApp& app) { app.OnValueReceived(47, static_cast<unsigned char>(11)); }, "47(BaseStationCo) (1|(3|37)=47)"},
        {[](KeldraApp& app) { app.OnValueReceived(144, static_cast<unsigned char>(5)); },
         "144(BaseStationCo) (2|(2|39)=44)"},
        {[](KeldraApp& app) { app.OnValueReceived(496, true); }, "496(BaseStationCo) (5|(12|41)=96)"},
        {[](KeldraApp& app) { app.OnValueReceived(146, false); }, "146(BaseStationCo) (2|(2|41)=46)"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.second);
        fixture->ClearRecords();

        test.first(*fixture->app);
        fixture->clock.Advance(StepWindow);

        EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL,
                                     "Received value on CO " + test.second +
                                         " of a base station, thermostat or actor slot that is not configured"),
                  1u);
        EXPECT_EQ(fixture->log.CountContaining("Set "), 0u);
        EXPECT_EQ(fixture->log.CountContaining("leaving home"), 0u);
        EXPECT_THAT(fixture->errorCalls.Calls(), IsEmpty());
        EXPECT_THAT(fixture->host.Sent(), IsEmpty());
    }
    for (const auto kind : {RequestKind::LeavingHome, RequestKind::SetpointTemperature, RequestKind::PowerLevel}) {
        EXPECT_EQ(fixture->Count(kind), 0u) << kind;
    }
}

// ---------------------------------------------------------------------------
// Rejected values

struct RejectedCase {
    const char* name;
    Oru::function<void(KeldraApp&)> send;
    std::string line;  // warning, source OruKeldraApp
};

const std::string Co2 = "2(BaseStationCo) (1|(1|2)=2)";

const std::vector<RejectedCase> RejectedCases = {
    // bool
    {"BoolOnZero", [](KeldraApp& a) { a.OnValueReceived(0, true); },
     "Received unsupported bool on out-of-range  CO 0: true"},
    {"BoolOn518", [](KeldraApp& a) { a.OnValueReceived(518, false); },
     "Received unsupported bool on out-of-range  CO 518: false"},
    {"BoolOnMinusOne", [](KeldraApp& a) { a.OnValueReceived(-1, true); },
     "Received unsupported bool on out-of-range  CO -1: true"},
    {"BoolOn25", [](KeldraApp& a) { a.OnValueReceived(25, true); }, "Could not decode CO 25. Received bool: true"},
    {"BoolOn99", [](KeldraApp& a) { a.OnValueReceived(99, false); }, "Could not decode CO 99. Received bool: false"},
    {"BoolOn505", [](KeldraApp& a) { a.OnValueReceived(505, true); },
     "Received unsupported bool on non-BaseStationCo 505: true"},
    {"BoolOn511", [](KeldraApp& a) { a.OnValueReceived(511, true); },
     "Received unsupported bool on non-BaseStationCo 511: true"},
    {"BoolOn517", [](KeldraApp& a) { a.OnValueReceived(517, false); },
     "Received unsupported bool on non-BaseStationCo 517: false"},
    {"BoolOnSetpoint", [](KeldraApp& a) { a.OnValueReceived(2, true); },
     "Received unsupported bool on non-PowerLevelCo " + Co2 + ": true"},
    {"BoolOnGeneral", [](KeldraApp& a) { a.OnValueReceived(97, true); },
     "Received unsupported bool on non-PowerLevelCo 97(BaseStationCo) (1|97): true"},
    {"BoolOnPowerLevelInput", [](KeldraApp& a) { a.OnValueReceived(37, true); },
     "Received bool instead of BYTE on PowerLevelCo 37(BaseStationCo) (1|(1|37)=37): true"},
    {"BoolOnPercentInput", [](KeldraApp& a) { a.OnValueReceived(139, false); },
     "Received bool instead of BYTE on PowerLevelCo 139(BaseStationCo) (2|(1|39)=39): false"},
    {"BoolOnPowerLevelStatus", [](KeldraApp& a) { a.OnValueReceived(38, true); },
     "Received bool on PowerLevelCo status CO 38(BaseStationCo) (1|(1|38)=38): true"},
    {"BoolOnPercentStatus", [](KeldraApp& a) { a.OnValueReceived(45, true); },
     "Received bool on PowerLevelCo status CO 45(BaseStationCo) (1|(2|40)=45): true"},
    // BYTE
    {"ByteOnZero", [](KeldraApp& a) { a.OnValueReceived(0, static_cast<unsigned char>(10)); },
     "Received unsupported BYTE on out-of-range CO 0: 0x0a"},
    {"ByteOn518", [](KeldraApp& a) { a.OnValueReceived(518, static_cast<unsigned char>(255)); },
     "Received unsupported BYTE on out-of-range CO 518: 0xff"},
    {"ByteOn25", [](KeldraApp& a) { a.OnValueReceived(25, static_cast<unsigned char>(0)); },
     "Could not decode CO 25. Received BYTE: 0x00"},
    {"ByteOn510", [](KeldraApp& a) { a.OnValueReceived(510, static_cast<unsigned char>(1)); },
     "Received unsupported BYTE on non-BaseStationCo 510: 0x01"},
    {"ByteOnRoomTemperature", [](KeldraApp& a) { a.OnValueReceived(1, static_cast<unsigned char>(5)); },
     "Received unsupported BYTE on non-PowerLevelCo 1(BaseStationCo) (1|(1|1)=1): 0x05"},
    {"ByteOnGeneral", [](KeldraApp& a) { a.OnValueReceived(198, static_cast<unsigned char>(0x7f)); },
     "Received unsupported BYTE on non-PowerLevelCo 198(BaseStationCo) (2|98): 0x7f"},
    {"ByteOnPowerLevelStatus", [](KeldraApp& a) { a.OnValueReceived(38, static_cast<unsigned char>(5)); },
     "Received BYTE on PowerLevelCo status CO 38(BaseStationCo) (1|(1|38)=38): 0x05"},
    {"ByteOnPercentStatus", [](KeldraApp& a) { a.OnValueReceived(40, static_cast<unsigned char>(200)); },
     "Received BYTE on PowerLevelCo status CO 40(BaseStationCo) (1|(1|40)=40): 0xc8"},
    {"ByteOnStep", [](KeldraApp& a) { a.OnValueReceived(41, static_cast<unsigned char>(1)); },
     "Received BYTE instead of bool on PowerLevelCo 41(BaseStationCo) (1|(1|41)=41): 0x01"},
    // float
    {"FloatOnZero", [](KeldraApp& a) { a.OnValueReceived(0, 21.3f); },
     "Received unsupported float on out-of-range CO 0: 21.3"},
    {"FloatOn518", [](KeldraApp& a) { a.OnValueReceived(518, -4.5f); },
     "Received unsupported float on out-of-range CO 518: -4.5"},
    {"FloatOn99", [](KeldraApp& a) { a.OnValueReceived(99, 21.3f); }, "Could not decode CO 99. Received float: 21.3"},
    {"FloatOn502", [](KeldraApp& a) { a.OnValueReceived(502, 21.3f); },
     "Received unsupported float on non-BaseStationCo 502: 21.3"},
    {"FloatOnPowerLevel", [](KeldraApp& a) { a.OnValueReceived(37, 21.3f); },
     "Received unsupported float on non-RoomThermostatCo 37(BaseStationCo) (1|(1|37)=37): 21.3"},
    {"FloatOnGeneral", [](KeldraApp& a) { a.OnValueReceived(97, 1.0f); },
     "Received unsupported float on non-RoomThermostatCo 97(BaseStationCo) (1|97): 1"},
    {"FloatOnRoomTemperature", [](KeldraApp& a) { a.OnValueReceived(1, 21.3f); },
     "Received float on RoomThermostatCo status CO 1(BaseStationCo) (1|(1|1)=1): 21.3"},
    {"FloatOnSetpointStatus", [](KeldraApp& a) { a.OnValueReceived(3, 21.3f); },
     "Received float on RoomThermostatCo status CO 3(BaseStationCo) (1|(1|3)=3): 21.3"},
    // The other types
    {"TextOnSetpoint", [](KeldraApp& a) { a.OnValueReceived(2, std::string("21.3")); },
     "Received unsupported std::string on CO 2: 21.3"},
    {"TextOn504", [](KeldraApp& a) { a.OnValueReceived(504, std::string("")); },
     "Received unsupported std::string on CO 504: "},
    {"WordOnSetpoint", [](KeldraApp& a) { a.OnValueReceived(2, static_cast<unsigned short>(7)); },
     "Received unsupported WORD on CO 2: 7"},
    {"WordOnZero", [](KeldraApp& a) { a.OnValueReceived(0, static_cast<unsigned short>(65535)); },
     "Received unsupported WORD on CO 0: 65535"},
    {"DwordOnPercent", [](KeldraApp& a) { a.OnValueReceived(39, 4294967295UL); },
     "Received unsupported DWORD on CO 39: 4294967295"},
    {"LongOnPowerLevel", [](KeldraApp& a) { a.OnValueReceived(37, -5L); }, "Received unsupported LONG on CO 37: -5"},
    {"DateTimeOnArrivalStatus", [](KeldraApp& a) { a.OnValueReceived(513, At(2024, 5, 17, 18, 30)); },
     "Received unsupported boost::posix_time::ptime on CO 513: 2024-May-17 18:30:00"},
    {"DateTimeOnSetpoint", [](KeldraApp& a) { a.OnValueReceived(2, ptime(boost::posix_time::not_a_date_time)); },
     "Received unsupported boost::posix_time::ptime on CO 2: not-a-date-time"},
    {"TimeOfDayOnArrivalStatus", [](KeldraApp& a) { a.OnValueReceived(515, Time(18, 30)); },
     "Received unsupported OruApp::TimeOfDay on CO 515: 18:30"},
    {"TimeOfDayOnArrivalDate", [](KeldraApp& a) { a.OnValueReceived(512, Time(0, 5)); },
     "Received unsupported OruApp::TimeOfDay on CO 512: 00:05"},
};

class RejectedValueTest : public BusTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedValueTest, LogsItsLineAndSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const auto allRequests = [this]() {
        return fixture->webApis.Created(0)->Requests().size() + fixture->webApis.Created(1)->Requests().size();
    };
    const auto requestsBefore = allRequests();

    GetParam().send(*fixture->app);
    fixture->clock.Advance(StepWindow);

    const auto entries = fixture->log.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, log4cplus::WARN_LOG_LEVEL);
    EXPECT_EQ(entries[0].source, "OruKeldraApp");
    EXPECT_EQ(entries[0].message, GetParam().line);
    EXPECT_THAT(fixture->host.Sent(), IsEmpty());
    EXPECT_THAT(fixture->errorCalls.Calls(), IsEmpty());
    // The polls of the 300 ms are the only requests.
    EXPECT_EQ(allRequests(), requestsBefore);
}

INSTANTIATE_TEST_SUITE_P(Values, RejectedValueTest, ::testing::ValuesIn(RejectedCases),
                         [](const ::testing::TestParamInfo<RejectedCase>& caseInfo) {
                             return std::string(caseInfo.param.name);
                         });

TEST_F(BusTest, GetValueIsNotSupportedForAnyType)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    std::string text;
    bool flag = false;
    unsigned char byte = 0;
    float number = 0.0f;
    unsigned short word = 0;
    unsigned long dword = 0;
    long signedLong = 0;
    ptime dateTime;
    auto timeOfDay = Time(1, 2);

    auto& app = *fixture->app;
    EXPECT_FALSE(app.GetValue(3, text));
    EXPECT_FALSE(app.GetValue(3, flag));
    EXPECT_FALSE(app.GetValue(3, byte));
    EXPECT_FALSE(app.GetValue(3, number));
    EXPECT_FALSE(app.GetValue(3, word));
    EXPECT_FALSE(app.GetValue(3, dword));
    EXPECT_FALSE(app.GetValue(3, signedLong));
    EXPECT_FALSE(app.GetValue(3, dateTime));
    EXPECT_FALSE(app.GetValue(3, timeOfDay));

    const auto entries = fixture->log.Entries();
    ASSERT_EQ(entries.size(), 9u);
    std::set<int> lines;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.level, log4cplus::FATAL_LOG_LEVEL);
        EXPECT_EQ(entry.source, "OruKeldraApp");
        EXPECT_EQ(entry.message, "Something is not implemented here (OruKeldraApp:" + std::to_string(entry.line) + ")");
        lines.insert(entry.line);
    }
    EXPECT_EQ(lines.size(), 9u);
    EXPECT_THAT(fixture->host.Sent(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Anything from the bus

TEST_F(BusTest, EveryByteOnEveryCoReachesAStationOnlyWhenValid)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    QuietConsole quiet;

    for (int co = 1; co <= 517; ++co) {
        for (int value = 0; value <= 255; ++value) {
            fixture->app->OnValueReceived(co, static_cast<unsigned char>(value));
        }
        fixture->RunPending();
    }

    // Levels 0..10 on 37, 42 and 137; every percentage on 39, 44 and 139.
    const auto station1 = Station1Requests(RequestKind::PowerLevel);
    const auto station2 = fixture->WebApiOf(1)->Requests(RequestKind::PowerLevel);
    EXPECT_EQ(station1.size(), 2u * (11u + 256u));
    EXPECT_EQ(station2.size(), 11u + 256u);
    EXPECT_EQ(fixture->Count(RequestKind::SetpointTemperature), 0u);
    EXPECT_EQ(fixture->Count(RequestKind::LeavingHome), 0u);
    EXPECT_EQ(fixture->Count(RequestKind::CoolingMode), 0u);
    // The percent writes in order: 0 gives 0, 1..25 give 1, ..., 230..255 give 10.
    std::vector<unsigned> percentLevels;
    for (std::size_t index = 11; index < 11 + 256; ++index) {
        percentLevels.push_back(station2[index].level->Value());
    }
    for (unsigned percent = 0; percent <= 255; ++percent) {
        EXPECT_EQ(percentLevels[percent], (percent * 10 + 254) / 255) << percent;
    }
    // Every level above 10, on each of the 60 level inputs, got its line.
    EXPECT_EQ(fixture->log.CountContaining("PowerLevel - Value out of range"), 60u * 245u);
    // The level and percentage inputs of the 57 slots the installation
    // does not have were dropped.
    EXPECT_EQ(fixture->log.CountContaining("of a base station, thermostat or actor slot that is not configured"),
              57u * 2u * 256u);
}

TEST_F(BusTest, EveryTypeOnEveryCoFromMinus1000To1000)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    QuietConsole quiet;
    auto& app = *fixture->app;
    const float nan = std::numeric_limits<float>::quiet_NaN();

    for (int co = -1000; co <= 1000; ++co) {
        app.OnValueReceived(co, std::string("\xff\xfe text"));
        app.OnValueReceived(co, true);
        app.OnValueReceived(co, false);
        app.OnValueReceived(co, static_cast<unsigned char>(5));
        app.OnValueReceived(co, 21.3f);
        app.OnValueReceived(co, nan);
        app.OnValueReceived(co, static_cast<unsigned short>(65535));
        app.OnValueReceived(co, std::numeric_limits<unsigned long>::max());
        app.OnValueReceived(co, std::numeric_limits<long>::min());
        app.OnValueReceived(co, ptime(boost::posix_time::pos_infin));
        app.OnValueReceived(co, Time(23, 59));
        fixture->RunPending();
    }
    fixture->clock.Advance(StepWindow);

    // 21.3 on the configured thermostats 2, 5 and 102.
    EXPECT_EQ(fixture->Count(RequestKind::SetpointTemperature), 3u);
    // 5 as level and as percentage on the configured slots.
    EXPECT_EQ(fixture->Count(RequestKind::PowerLevel), 6u);
    // true and false on 510 and 516, to both stations; the steps cancel out.
    EXPECT_EQ(fixture->Count(RequestKind::LeavingHome), 4u);
    EXPECT_EQ(fixture->Count(RequestKind::CoolingMode), 4u);
}

TEST_F(BusTest, ValuesBeforeInitAndAfterExitDoNotReachAnything)
{
    ApplicationFixture fresh;
    const auto sendAll = [](KeldraApp& app) {
        for (const int co : {-1, 0, 2, 37, 39, 41, 510, 512, 514, 516, 518}) {
            app.OnValueReceived(co, std::string("x"));
            app.OnValueReceived(co, true);
            app.OnValueReceived(co, static_cast<unsigned char>(5));
            app.OnValueReceived(co, 21.3f);
            app.OnValueReceived(co, static_cast<unsigned short>(5));
            app.OnValueReceived(co, 5UL);
            app.OnValueReceived(co, 5L);
            app.OnValueReceived(co, At(2024, 5, 21));
            app.OnValueReceived(co, Time(12, 0));
        }
    };

    sendAll(*fresh.app);
    fresh.RunPending();
    EXPECT_EQ(fresh.log.Count(log4cplus::WARN_LOG_LEVEL, "Received float on CO 2 before initialisation: 21.3"), 1u);
    EXPECT_THAT(fresh.host.Sent(), IsEmpty());
    EXPECT_EQ(fresh.webApis.CreatedCount(), 0u);

    ASSERT_NO_FATAL_FAILURE(fresh.Start());
    fresh.app->Exit(&fresh.host);
    fresh.ClearRecords();
    sendAll(*fresh.app);
    // A level out of range is a gateway error at once, on this thread.
    fresh.app->OnValueReceived(37, static_cast<unsigned char>(11));
    // The runtime is stopped: nothing runs any more, and nothing may reach
    // the host the application has let go of.
    EXPECT_THAT(fresh.host.Sent(), IsEmpty());
    EXPECT_EQ(fresh.log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO502): OutOfRangeVal"), 1u);
    EXPECT_EQ(fresh.log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO501): true"), 1u);
}

TEST(FatalErrorTest, EndsTheProcessWithExitStatus255)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ApplicationFixture fixture;
            fixture.app->OnGatewayFatalError();
        },
        ::testing::ExitedWithCode(255),
        "Application exited by KeldraApp::OnGatewayFatalError to trigger watchdog reset\\.");
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
