// A day of the plug-in on the virtual clock, with two stations that fail and
// recover on a schedule while the bus writes setpoints: what the plug-in
// holds does not grow, and the stations end with the bus's last setpoints.
#include <array>

#include <boost/asio/error.hpp>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"
#include "platform/host/OruLogging.h"
#include "basestations/KeldraWebApi.h"

namespace Keldra {
namespace Testing {
namespace {

// Stall: polls and writes never answered, the firmware check times out.
enum class Fault { None, Stall, TimedOut, Refused };

TEST(LongRunTest, ADayOfFailingStationsLeavesNothingBehindAndTheLastValuesOnTheBus)
{
    QuietConsole quiet;
    // A day of debug lines would take most of the run's time.
    Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::WARN_LOG_LEVEL);
    ApplicationFixture fixture;
    Fault faults[2] = {Fault::None, Fault::None};
    const auto answer = [&](FakeKeldraWebApi& webApi, std::size_t station) {
        const auto fault = faults[station];
        const boost::system::error_code error =
            fault == Fault::Refused ? boost::asio::error::connection_refused : boost::asio::error::timed_out;
        const auto delivery = fault == Fault::Stall ? Delivery::Held : Delivery::Posted;
        const bool answers = fault == Fault::None || fault == Fault::Stall;
        webApi.AnswerShortInfo(fault == Fault::None ? Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage>(
                                                          {std::string(KeldraWebApi::MinimalVersion()), {}, {}})
                                                    : error);
        webApi.AnswerStatus(answers ? Oru::SystemResult<KeldraJson::StatusObject>(fixture.stations[station].status)
                                    : error,
                            delivery);
        webApi.AnswerWrite(RequestKind::SetpointTemperature,
                           answers ? Oru::SystemResult<WriteResponseStatus>(WriteResponseStatus::Accepted) : error,
                           delivery);
    };
    fixture.webApis.OnCreate([&](FakeKeldraWebApi& webApi) {
        for (std::size_t station = 0; station < 2; ++station) {
            if (webApi.GetParameters().endpoint.address().to_v4().to_uint() == fixture.stations[station].address) {
                answer(webApi, station);
            }
        }
    });
    const auto set = [&](std::size_t station, Fault fault) {
        faults[station] = fault;
        answer(*fixture.WebApiOf(station), station);
    };
    // Timers, waits, web API objects held beyond the factory, open requests.
    const auto holdings = [&fixture]() {
        std::array<std::size_t, 4> counts{fixture.clock.TimerCount(), fixture.clock.PendingWaitCount(), 0, 0};
        for (std::size_t index = 0; index < fixture.webApis.CreatedCount(); ++index) {
            const auto webApi = fixture.webApis.Created(index);
            counts[2] += webApi.use_count() > 2 ? 1 : 0;
            counts[3] += webApi->HeldCount();
        }
        return counts;
    };
    const int setpointInput[] = {2, 102};  // thermostat 1 of each station
    const Fault schedule[] = {Fault::Stall, Fault::TimedOut, Fault::Refused};
    const int faultStart[] = {600, 720}, faultLength = 180, step = 5;
    float lastSent[2] = {0, 0};
    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    boost::optional<std::array<std::size_t, 4>> afterFirstHour;

    for (int second = 0; second < 24 * 3600; second += step) {
        const int hour = second / 3600, ofHour = second % 3600;
        for (std::size_t station = 0; station < 2; ++station) {
            if (ofHour == faultStart[station]) {
                set(station, schedule[(static_cast<std::size_t>(hour) + station) % 3]);
            } else if (ofHour == faultStart[station] + faultLength) {
                set(station, Fault::None);
            }
            if (ofHour % 420 == 180) {
                lastSent[station] = 16.0f + static_cast<float>((second / 60 + 5 * station) % 17) * 0.5f;
                fixture.app->OnValueReceived(setpointInput[station], lastSent[station]);
            }
        }
        fixture.clock.Advance(boost::chrono::seconds(step));
        if (ofHour + step == 3600) {
            fixture.ClearRecords();
            afterFirstHour = afterFirstHour.value_or(holdings());
            EXPECT_EQ(holdings(), *afterFirstHour) << "after hour " << hour + 1;
        }
    }

    // Each station took the last setpoint from the bus.
    for (std::size_t station = 0; station < 2; ++station) {
        const auto writes = fixture.WebApiOf(station)->Requests(RequestKind::SetpointTemperature);
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back().temperature, lastSent[station]);
    }
    RecordProperty("holdings", ::testing::PrintToString(*afterFirstHour));
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
