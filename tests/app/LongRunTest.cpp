// A day of the plug-in on the virtual clock, with two stations that fail and
// recover on a schedule while the bus writes setpoints: what the plug-in
// holds does not grow, and the bus ends with the stations' last values.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"
#include "OruLogging.h"
#include "basestations/KeldraWebApi.h"
#include "tests/basestations/BaseStationTestSupport.h"

namespace Keldra {
namespace Testing {
namespace {

enum class Fault {
    None,
    Stall,     // polls and writes never answered; the firmware check times out
    TimedOut,  // every request ends with timed_out
    Refused,   // every request ends with connection_refused
    Gone,      // no longer announced, every request ends with host_unreachable
};

struct Holdings {
    std::size_t timers, waits, webApis, openRequests;
    bool operator==(const Holdings& other) const
    {
        return timers == other.timers && waits == other.waits && webApis == other.webApis &&
               openRequests == other.openRequests;
    }
};

std::ostream& operator<<(std::ostream& stream, const Holdings& holdings)
{
    return stream << "timers " << holdings.timers << ", waits " << holdings.waits << ", web API objects "
                  << holdings.webApis << ", open requests " << holdings.openRequests;
}

class Day {
public:
    Day() : _faults(fixture.stations.size(), Fault::None)
    {
        fixture.webApis.OnCreate([this](FakeKeldraWebApi& webApi) {
            for (std::size_t index = 0; index < fixture.stations.size(); ++index) {
                if (webApi.GetParameters().endpoint.address().to_v4().to_uint() == fixture.stations[index].address) {
                    Answer(webApi, index);
                }
            }
        });
    }

    void Set(std::size_t station, Fault fault)
    {
        const auto& simulated = fixture.stations[station];
        if (fault == Fault::Gone) {
            fixture.network->Withdraw("plavo-" + simulated.id);
        } else if (_faults[station] == Fault::Gone) {
            fixture.network->Announce(DeviceInfo{"plavo-" + simulated.id, "_https._tcp", "local", 2},
                                      *MakeServiceInfo(simulated.id, simulated.address));
        }
        _faults[station] = fault;
        if (const auto webApi = fixture.WebApiOf(station)) {
            Answer(*webApi, station);
        }
    }

    // The station answers its polls with this status from now on.
    void Report(std::size_t station, const KeldraJson::StatusObject& status)
    {
        fixture.stations[station].status = status;
        Set(station, _faults[station]);
    }

    Holdings Measure() const
    {
        Holdings holdings{fixture.clock.TimerCount(), fixture.clock.PendingWaitCount(), 0, 0};
        for (std::size_t index = 0; index < fixture.webApis.CreatedCount(); ++index) {
            const auto webApi = fixture.webApis.Created(index);
            // Held by more than the factory and this loop.
            holdings.webApis += webApi.use_count() > 2 ? 1 : 0;
            holdings.openRequests += webApi->HeldCount();
        }
        return holdings;
    }

    // The last value sent on the CO.
    std::string Last(int co)
    {
        const auto sent = fixture.host.SentOn(co);
        return sent.empty() ? lastOnBus[co] : sent.back();
    }

    // Keeps the last value sent on each CO and forgets the records.
    void CollectBus()
    {
        for (const auto& sent : fixture.host.Sent()) {
            lastOnBus[std::stoi(sent)] = sent;
        }
        fixture.ClearRecords();
    }

    ApplicationFixture fixture;
    std::map<int, std::string> lastOnBus;

private:
    void Answer(FakeKeldraWebApi& webApi, std::size_t station) const
    {
        const auto fault = _faults[station];
        const auto& status = fixture.stations[station].status;
        const std::vector<RequestKind> writes = {RequestKind::SetpointTemperature, RequestKind::PowerLevel,
                                                 RequestKind::LeavingHome, RequestKind::CoolingMode};
        if (fault == Fault::None) {
            webApi.AnswerShortInfo(
                KeldraJson::BaseStationShortInfoMessage{std::string(KeldraWebApi::MinimalVersion()), {}, {}});
            webApi.AnswerStatus(status);
            for (const auto kind : writes) {
                webApi.AnswerWrite(kind, WriteResponseStatus::Accepted);
            }
            return;
        }
        const boost::system::error_code error = fault == Fault::Refused ? boost::asio::error::connection_refused
                                                : fault == Fault::Gone  ? boost::asio::error::host_unreachable
                                                                        : boost::asio::error::timed_out;
        const auto delivery = fault == Fault::Stall ? Delivery::Held : Delivery::Posted;
        webApi.AnswerShortInfo(error);
        webApi.AnswerStatus(fault == Fault::Stall ? Oru::SystemResult<KeldraJson::StatusObject>(status) : error,
                            delivery);
        for (const auto kind : writes) {
            webApi.AnswerWrite(kind, fault == Fault::Stall ? Oru::SystemResult<WriteResponseStatus>(
                                                                 WriteResponseStatus::Accepted)
                                                           : error,
                               delivery);
        }
    }

    std::vector<Fault> _faults;
};

TEST(LongRunTest, ADayOfFailingStationsLeavesNothingBehindAndTheStationsLastValuesOnTheBus)
{
    QuietConsole quiet;
    // Errors and warnings only: a day of debug lines would take most of
    // the run's time.
    Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::WARN_LOG_LEVEL);
    Day day;
    auto& fixture = day.fixture;
    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    const Fault faults[] = {Fault::Stall, Fault::TimedOut, Fault::Refused, Fault::Gone};
    // Thermostat 1 of each station: the room in the status, its CO for a
    // setpoint from the bus, and the COs that publish it.
    const struct {
        std::size_t room;
        int setpointInput, measured, setpoint;
    } thermostat1[] = {{2, 2, 1, 3}, {0, 102, 101, 103}};
    float lastSent[2] = {0, 0};
    std::vector<Holdings> hourly;

    // Each station fails once an hour for three minutes, with a fault of
    // another kind each time; the two faults overlap for a minute.
    const int faultStart[] = {10 * 60, 12 * 60};
    const int faultLength = 3 * 60;
    const int step = 5;
    for (int second = 0; second < 24 * 3600; second += step) {
        const int hour = second / 3600;
        const int ofHour = second % 3600;
        for (std::size_t station = 0; station < 2; ++station) {
            if (ofHour == faultStart[station]) {
                day.Set(station, faults[(hour + station) % 4]);
            } else if (ofHour == faultStart[station] + faultLength) {
                day.Set(station, Fault::None);
            } else if (ofHour == faultStart[station] + 20) {
                // Whatever the fault, it is on the bus within 20 s.
                EXPECT_EQ(day.Last(501), "501 switch true") << "hour " << hour << ", station " << station + 1;
                EXPECT_THAT(day.Last(502), ::testing::AnyOf("502 text CommError", "502 text MissingBaseSta"));
            }
            if (ofHour == 0) {
                auto status = fixture.stations[station].status;
                status.rooms[thermostat1[station].room].thermostat->roomTemperature = 18.0 + (hour % 7) * 0.5;
                day.Report(station, status);
            }
            // Setpoints from the bus, some of them while a station fails.
            if (ofHour % 420 == 180) {
                lastSent[station] = 16.0f + static_cast<float>((second / 60 + 5 * station) % 17) * 0.5f;
                fixture.app->OnValueReceived(thermostat1[station].setpointInput, lastSent[station]);
            }
        }
        fixture.clock.Advance(boost::chrono::seconds(step));
        if (ofHour + step == 3600) {
            hourly.push_back(day.Measure());
            day.CollectBus();
            EXPECT_EQ(hourly.back(), hourly.front()) << "after hour " << hour + 1;
        }
    }

    RecordProperty("holdings", ::testing::PrintToString(hourly.front()));

    // Each station got the last setpoint of the bus and now reports it.
    for (std::size_t station = 0; station < 2; ++station) {
        const auto writes = fixture.WebApiOf(station)->Requests(RequestKind::SetpointTemperature);
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back().temperature, lastSent[station]);
        auto status = fixture.stations[station].status;
        status.rooms[thermostat1[station].room].thermostat->setpointTemperature = writes.back().temperature;
        day.Report(station, status);
    }
    fixture.Poll();
    day.CollectBus();
    for (std::size_t station = 0; station < 2; ++station) {
        const auto& thermostat = *fixture.stations[station].status.rooms[thermostat1[station].room].thermostat;
        std::ostringstream measured, setpoint;
        measured << thermostat1[station].measured << " float " << *thermostat.roomTemperature;
        setpoint << thermostat1[station].setpoint << " float " << thermostat.setpointTemperature;
        EXPECT_EQ(day.lastOnBus[thermostat1[station].measured], measured.str());
        EXPECT_EQ(day.lastOnBus[thermostat1[station].setpoint], setpoint.str());
    }
    EXPECT_EQ(day.lastOnBus[6], "6 float 19.5");
    EXPECT_EQ(day.lastOnBus[38], "38 byte 4");
    EXPECT_EQ(day.lastOnBus[43], "43 byte 7");
    EXPECT_EQ(day.lastOnBus[97], "97 switch false");
    EXPECT_EQ(day.lastOnBus[197], "197 switch false");
    EXPECT_EQ(day.lastOnBus[501], "501 switch false");
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
