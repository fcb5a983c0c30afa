// What the simulated base stations report, through the application onto the
// bus: the status of every poll, the station errors, the leaving-home state
// and arrival, and the station's date and time texts.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"
#include "tests/basestations/BaseStationTestSupport.h"

namespace Keldra {
namespace Testing {
namespace {

using boost::posix_time::ptime;
using Oru::Testing::SentValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string ArrivalFormat = "%y-%m-%dT%H:%M";
const std::string StationFormat = "%y-%m-%dT%H:%M:%S";

ptime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return ptime(boost::gregorian::date(static_cast<unsigned short>(year), static_cast<unsigned short>(month),
                                        static_cast<unsigned short>(day)),
                 boost::posix_time::time_duration(hour, minute, second));
}

SentValue::Value Byte(unsigned value) { return static_cast<unsigned char>(value); }

class StatusTest : public ::testing::Test {
public:
    // Init and Run; the records of that are forgotten, then the stations
    // are found, checked and polled once.
    void Start(std::vector<SimulatedStation> stations, std::int32_t absenceMode = 0)
    {
        fixture = std::make_unique<ApplicationFixture>(std::move(stations), absenceMode);
        ASSERT_TRUE(fixture->Init());
        ASSERT_TRUE(fixture->app->Run());
        fixture->ClearRecords();
        fixture->RunPending();
    }

    // One station whose status the test shapes.
    void StartWith(const Oru::function<void(KeldraJson::StatusObject&)>& shape, std::int32_t absenceMode = 0)
    {
        auto station = Station1();
        shape(station.status);
        Start({station}, absenceMode);
    }

    std::unique_ptr<ApplicationFixture> fixture;
};

TEST_F(StatusTest, OnePollPublishesTheSystemLeavingHomeErrorsAndEveryRoom)
{
    auto station = Station1();
    station.status.system.code = std::string("1-2");
    station.status.leavingHome.date = std::string("24-05-24");
    station.status.leavingHome.time = std::string("18:30");
    station.status.errors.resize(2);
    station.status.errors[0].code = -3;
    station.status.errors[1].code = -22;
    Start({station});

    EXPECT_THAT(fixture->host.Sent(),
                ElementsAre(SentValue{98, true}, SentValue{517, true}, SentValue{511, false},
                            SentValue{513, At(2024, 5, 24, 18, 30)},
                            SentValue{515, *OruApp::TimeOfDay::Create(18, 30)}, SentValue{97, true},
                            SentValue{503, true}, SentValue{504, std::string("-3:MissingThs")},
                            SentValue{504, std::string("-22:ThermoBatt")},
                            // room 1: actor module 3 in slot 1, level 4
                            SentValue{38, Byte(4)}, SentValue{40, Byte(102)},
                            // room 2: THERM002, nothing measured
                            SentValue{6, 19.5f},
                            // room 3: THERM001
                            SentValue{1, 20.5f}, SentValue{3, 21.0f},
                            // room 4: actor module 5 in slot 2, level 7 with its percentage
                            SentValue{43, Byte(7)}, SentValue{45, Byte(180)}));
    EXPECT_THAT(fixture->host.LedCodes(), IsEmpty());

    // The next poll: the errors are known, the power levels unchanged.
    fixture->ClearRecords();
    fixture->Poll();
    EXPECT_THAT(fixture->host.Sent(),
                ElementsAre(SentValue{98, true}, SentValue{517, true}, SentValue{511, false},
                            SentValue{513, At(2024, 5, 24, 18, 30)},
                            SentValue{515, *OruApp::TimeOfDay::Create(18, 30)}, SentValue{97, true},
                            SentValue{503, true}, SentValue{6, 19.5f}, SentValue{1, 20.5f}, SentValue{3, 21.0f}));
}

TEST_F(StatusTest, AStationThatIsNotTheMasterPublishesOnlyItsOwnValues)
{
    Start(DefaultStations());

    // Station 1 is the master: the installation-wide values come once.
    EXPECT_EQ(fixture->host.SentOn(517).size(), 1u);
    EXPECT_EQ(fixture->host.SentOn(511).size(), 1u);
    EXPECT_EQ(SentOn(fixture->host, 98), OnCo(98, {false}));
    EXPECT_EQ(SentOn(fixture->host, 198), OnCo(198, {false}));
    EXPECT_EQ(SentOn(fixture->host, 197), OnCo(197, {false}));
    EXPECT_EQ(SentOn(fixture->host, 503), OnCo(503, {false, false}));
    EXPECT_EQ(SentOn(fixture->host, 101), OnCo(101, {19.0f}));
    EXPECT_EQ(SentOn(fixture->host, 103), OnCo(103, {20.0f}));
    EXPECT_EQ(SentOn(fixture->host, 138), OnCo(138, {Byte(2)}));
    EXPECT_EQ(SentOn(fixture->host, 140), OnCo(140, {Byte(51)}));
}

TEST_F(StatusTest, SystemCodeOtherThanZeroZeroIsAnErrorOnTheStationsCo98)
{
    struct Case {
        boost::optional<std::string> code;
        bool sent;
    };
    for (const auto& test : std::vector<Case>{{boost::none, false}, {std::string("0-0"), false},
                                              {std::string("1-2"), true}, {std::string(""), true},
                                              {std::string("0-0 "), true}}) {
        SCOPED_TRACE(test.code);
        StartWith([&test](KeldraJson::StatusObject& status) { status.system.code = test.code; });
        EXPECT_EQ(SentOn(fixture->host, 98), OnCo(98, {test.sent}));
    }
}

TEST_F(StatusTest, CoolingFlagIsPublishedNegated)
{
    for (const bool cooling : {false, true}) {
        StartWith([cooling](KeldraJson::StatusObject& status) { status.system.cooling = cooling; });
        EXPECT_EQ(SentOn(fixture->host, 517), OnCo(517, {!cooling}));
    }
}

TEST_F(StatusTest, LeavingHomeStatusHasThePolarityOfTheSwitch)
{
    struct Case {
        std::int32_t absenceMode;
        bool active;
        bool sent;
    };
    for (const auto& test : std::vector<Case>{{0, false, false}, {0, true, true}, {1, false, true}, {1, true, false}}) {
        SCOPED_TRACE(::testing::Message() << "mode " << test.absenceMode << ", active " << test.active);
        StartWith([&test](KeldraJson::StatusObject& status) { status.leavingHome.active = test.active; },
                  test.absenceMode);
        EXPECT_EQ(SentOn(fixture->host, 511), OnCo(511, {test.sent}));
    }
}

TEST_F(StatusTest, ArrivalIsPublishedOnlyWhenItsTextsReadAsADateAndTime)
{
    struct Case {
        boost::optional<std::string> date;
        boost::optional<std::string> time;
        boost::optional<ptime> sent;
    };
    const std::vector<Case> cases = {
        {std::string("24-05-17"), std::string("18:30"), At(2024, 5, 17, 18, 30)},
        {std::string("24-05-17"), std::string("00:00"), At(2024, 5, 17, 0, 0)},
        {std::string("24-05-17"), std::string("23:59"), At(2024, 5, 17, 23, 59)},
        {std::string("24-05-17"), boost::none, boost::none},
        {boost::none, std::string("18:30"), boost::none},
        {std::string(""), std::string(""), boost::none},
        {std::string("24-05-17"), std::string("18:60"), boost::none},
        {std::string("24-05-17"), std::string("24:00"), boost::none},
        {std::string("24-13-17"), std::string("18:30"), boost::none},
        {std::string("garbage"), std::string("18:30"), boost::none},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(::testing::Message() << test.date << " " << test.time);
        StartWith([&test](KeldraJson::StatusObject& status) {
            status.leavingHome.active = true;
            status.leavingHome.date = test.date;
            status.leavingHome.time = test.time;
        });
        EXPECT_EQ(SentOn(fixture->host, 511), OnCo(511, {true}));
        if (test.sent) {
            EXPECT_THAT(SentOn(fixture->host, 513), ElementsAre(SentValue{513, *test.sent}));
            EXPECT_THAT(SentOn(fixture->host, 515),
                        ElementsAre(SentValue{515, *OruApp::TimeOfDay::FromBoostPosixPtime(*test.sent)}));
        } else {
            EXPECT_THAT(fixture->host.SentOn(513), IsEmpty());
            EXPECT_THAT(fixture->host.SentOn(515), IsEmpty());
        }
        EXPECT_EQ(fixture->log.CountContaining("Failed to parse date"), 0u);
    }
}

TEST_F(StatusTest, PowerLevelIsPublishedWithItsPercentage)
{
    // Eleven actor modules in slots 1..11 at levels 0..10, and a thermostat.
    SimulatedStation station;
    station.id = "C1B2C3D4E5";
    station.address = 0xC0A8010C;
    station.thermostats = {"THERM001"};
    for (unsigned slot = 1; slot <= 11; ++slot) {
        station.actorModules.push_back(slot);
    }
    station.status = Station1().status;
    station.status.rooms.clear();
    for (unsigned slot = 1; slot <= 11; ++slot) {
        station.status.rooms.push_back(PowerLevelRoom(slot, {static_cast<int>(slot)}, static_cast<std::uint8_t>(slot - 1)));
    }
    station.status.rooms.push_back(ThermostatRoom(12, "THERM001", 20.0));
    Start({station});

    const std::vector<unsigned> percent = {0, 25, 51, 76, 102, 127, 153, 178, 204, 229, 255};
    for (unsigned slot = 1; slot <= 11; ++slot) {
        SCOPED_TRACE(slot);
        const int levelCo = PowerLevelCoNumber(1, static_cast<int>(slot), 38);
        const int percentCo = PowerLevelCoNumber(1, static_cast<int>(slot), 40);
        EXPECT_EQ(SentOn(fixture->host, levelCo), OnCo(levelCo, {Byte(slot - 1)}));
        EXPECT_EQ(SentOn(fixture->host, percentCo), OnCo(percentCo, {Byte(percent[slot - 1])}));
    }
}

TEST_F(StatusTest, PowerLevelAboveTenIsNotPublished)
{
    StartWith([](KeldraJson::StatusObject& status) { status.rooms[3].powerLevelControl->powerLevel = 11; });

    EXPECT_THAT(fixture->host.SentOn(43), IsEmpty());
    EXPECT_THAT(fixture->host.SentOn(45), IsEmpty());
    // The other slot is published.
    EXPECT_EQ(SentOn(fixture->host, 38), OnCo(38, {Byte(4)}));
}

TEST_F(StatusTest, TemperatureAFloatCannotHoldIsNotPublished)
{
    StartWith([](KeldraJson::StatusObject& status) { status.rooms[2].thermostat->roomTemperature = 1e300; });

    EXPECT_THAT(fixture->host.SentOn(1), IsEmpty());
    EXPECT_EQ(SentOn(fixture->host, 3), OnCo(3, {21.0f}));
    EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL, "Invalid temperature received for CO 1: 1e+300"), 1u);
}

TEST_F(StatusTest, OnlyNewStationErrorsAreSentAsTexts)
{
    StartWith([](KeldraJson::StatusObject& status) {
        status.errors.resize(1);
        status.errors[0].code = -5;
    });
    EXPECT_EQ(SentOn(fixture->host, 504), OnCo(504, {std::string("-5:ErrSupply")}));

    auto status = fixture->stations[0].status;
    status.errors.resize(2);
    status.errors[0].code = -5;
    status.errors[1].code = -24;
    fixture->WebApiOf(0)->AnswerStatus(status);
    fixture->ClearRecords();
    fixture->Poll();
    EXPECT_EQ(SentOn(fixture->host, 504), OnCo(504, {std::string("-24:WeakConnTh")}));
    EXPECT_EQ(SentOn(fixture->host, 97), OnCo(97, {true}));

    status.errors.clear();
    fixture->WebApiOf(0)->AnswerStatus(status);
    fixture->ClearRecords();
    fixture->Poll();
    EXPECT_THAT(fixture->host.SentOn(504), IsEmpty());
    EXPECT_EQ(SentOn(fixture->host, 97), OnCo(97, {false}));
    EXPECT_EQ(SentOn(fixture->host, 503), OnCo(503, {false}));
}

// ---------------------------------------------------------------------------
// Gateway error indication

TEST_F(StatusTest, AStationNeverFoundBecomesTheGatewaysErrorAfterTheGracePeriod)
{
    // Station 2 is configured but never announced.
    auto stations = DefaultStations();
    fixture = std::make_unique<ApplicationFixture>(stations);
    fixture->network->Withdraw("plavo-B1B2C3D4E5");
    ASSERT_TRUE(fixture->Init());
    ASSERT_TRUE(fixture->app->Run());
    fixture->RunPending();
    fixture->ClearRecords();

    fixture->clock.Advance(boost::chrono::seconds(26));
    EXPECT_THAT(fixture->host.SentOn(501), IsEmpty());
    fixture->clock.Advance(boost::chrono::seconds(1));

    EXPECT_EQ(SentOn(fixture->host, 502), OnCo(502, {std::string("MissingBaseSta")}));
    EXPECT_EQ(SentOn(fixture->host, 501), OnCo(501, {true}));
    EXPECT_THAT(fixture->host.LedCodes(), ElementsAre(5));
}

TEST_F(StatusTest, RefusedSendsOfTheGatewayErrorAreLogged)
{
    auto stations = DefaultStations();
    fixture = std::make_unique<ApplicationFixture>(stations);
    fixture->host.FailSendsOn(501);
    fixture->host.FailSendsOn(502);
    ASSERT_TRUE(fixture->Init());

    ASSERT_TRUE(fixture->app->Run());
    fixture->app->OnValueReceived(37, static_cast<unsigned char>(11));

    EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO502): NoError"), 1u);
    EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO501): false"), 1u);
    EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO502): OutOfRangeVal"), 1u);
    EXPECT_EQ(fixture->log.Count(log4cplus::WARN_LOG_LEVEL, "Failed to send last error (CO501): true"), 1u);
}

TEST_F(StatusTest, LedCodeReachesTheHostUnchanged)
{
    Start({Station1()});
    for (const int code : {5, 3, -1, 0, 12345}) {
        fixture->app->OnLedErrorCode(code);
    }
    EXPECT_THAT(fixture->host.LedCodes(), ElementsAre(5, 3, -1, 0, 12345));
}

// ---------------------------------------------------------------------------
// Date and time texts

struct DateTextCase {
    std::string date;
    std::string time;
    const std::string* format;
    ptime expected;  // not-a-date-time when the texts do not match
};

TEST(ConvertDateToPtimeTest, ReadsOnlyTextsThatMatchTheFormatExactly)
{
    const ptime none(boost::posix_time::not_a_date_time);
    const std::vector<DateTextCase> cases = {
        {"24-05-17", "18:30", &ArrivalFormat, At(2024, 5, 17, 18, 30)},
        {"24-05-20", "10:00:00", &StationFormat, At(2024, 5, 20, 10, 0, 0)},
        {"00-01-01", "00:00", &ArrivalFormat, At(2000, 1, 1)},
        {"99-12-31", "23:59:59", &StationFormat, At(2099, 12, 31, 23, 59, 59)},
        {"24-02-29", "12:00", &ArrivalFormat, At(2024, 2, 29, 12, 0)},
        {"23-02-29", "12:00", &ArrivalFormat, none},
        {"24-13-17", "18:30", &ArrivalFormat, none},
        {"24-00-17", "18:30", &ArrivalFormat, none},
        {"24-05-32", "18:30", &ArrivalFormat, none},
        {"garbage", "x", &ArrivalFormat, none},
        // The date-time reader alone would make something of these.
        {"", "", &ArrivalFormat, none},            // 1999-01-01 00:00
        {"24-05-17", "", &ArrivalFormat, none},    // midnight
        {"24-05-17", "18", &ArrivalFormat, none},  // 18:00
        {"24-05", "18:30", &ArrivalFormat, none},  // 2024-05-19 06:00
        {"24-05-17", "18:60", &ArrivalFormat, none},
        {"24-05-17", "24:00", &ArrivalFormat, none},
        {"24-05-17", "18:30:59", &ArrivalFormat, none},
        {"24-05-17", "18:30xyz", &ArrivalFormat, none},
        {" 24-05-17", "18:30", &ArrivalFormat, none},
        {"24/05/17", "18:30", &ArrivalFormat, none},
        {"24-05-17", "18:30", &StationFormat, none},
        {"24-05-20", "18:30:99", &StationFormat, none},
        {"2024-05-17", "18:30", &ArrivalFormat, none},
        {"24-05-17", "18:30\n", &ArrivalFormat, none},
        {std::string("24-05-17\0", 9), "18:30", &ArrivalFormat, none},
    };
    Oru::Testing::LogCapture log;
    for (const auto& test : cases) {
        SCOPED_TRACE("'" + test.date + "' '" + test.time + "' " + *test.format);
        const auto value = KeldraApp::ConvertDateToPtime(test.date, test.time, *test.format);
        ASSERT_TRUE(value);
        EXPECT_EQ(*value, test.expected);
    }
    EXPECT_THAT(log.Entries(), IsEmpty());
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
