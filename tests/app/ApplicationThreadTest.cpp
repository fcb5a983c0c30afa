// The application with two threads, as the gateway runs it: the test's
// thread is the host's and delivers values from the bus, a second thread
// runs the event loop (virtual time advancing without pause, so the stations
// are polled while the values arrive).
#include <atomic>
#include <string>
#include <thread>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gtest/gtest.h>

#include "ApplicationFixture.h"

namespace Keldra {
namespace Testing {
namespace {

using boost::posix_time::ptime;

TEST(ApplicationThreadTest, ValuesFromTheHostsThreadReachTheStationsInOrderWhileTheyArePolled)
{
    ApplicationFixture fixture;
    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    const std::size_t rounds = 300;
    QuietConsole quiet;
    // At least 60 rounds of 100 ms on the event loop's thread.
    std::atomic<bool> stop{false};
    std::atomic<unsigned> done{0};
    std::thread loop([&]() {
        while (!stop.load()) {
            fixture.clock.Advance(boost::chrono::milliseconds(100));
            done.fetch_add(1);
        }
    });
    for (std::size_t index = 0; index < rounds; ++index) {
        // 20.0, 20.5, ..., 24.5, 20.0, ...
        fixture.app->OnValueReceived(2, 20.0f + static_cast<float>(index % 10) * 0.5f);
        fixture.app->OnValueReceived(37, static_cast<unsigned char>(index % 11));
        fixture.app->OnValueReceived(141, index % 2 == 0);
        fixture.app->OnValueReceived(512, ptime(boost::gregorian::date(2030, 1, 1)));
        fixture.app->OnValueReceived(514, *OruApp::TimeOfDay::Create(static_cast<int>(index % 24), 0));
        fixture.app->OnValueReceived(510, index % 2 == 0);
        fixture.app->OnValueReceived(516, index % 3 == 0);
        fixture.app->OnValueReceived(39, static_cast<unsigned char>(200));
        fixture.app->OnValueReceived(37, static_cast<unsigned char>(11));  // the general error, on this thread
    }
    while (done.load() < 60) {
        std::this_thread::yield();
    }
    stop.store(true);
    loop.join();
    fixture.RunPending();

    const auto station1 = fixture.WebApiOf(0);
    const auto setpoints = station1->Requests(RequestKind::SetpointTemperature);
    const auto levels = station1->Requests(RequestKind::PowerLevel);
    ASSERT_EQ(setpoints.size(), rounds);
    ASSERT_EQ(levels.size(), 2 * rounds);
    for (std::size_t index = 0; index < rounds; ++index) {
        EXPECT_EQ(setpoints[index].temperature, 20.0 + static_cast<double>(index % 10) * 0.5) << index;
        EXPECT_EQ(levels[2 * index].level->Value(), index % 11) << index;
        EXPECT_EQ(levels[2 * index + 1].level->Value(), 8u) << index;
    }
    EXPECT_EQ(station1->Count(RequestKind::CoolingMode) + fixture.WebApiOf(1)->Count(RequestKind::CoolingMode),
              2 * rounds);
    EXPECT_GT(station1->Count(RequestKind::Status), 1u);
    // Every "leaving" from the bus, with its arrival years ahead of the
    // master's time; the switch-offs are the bus's and those of the room
    // writes that found leaving home active.
    std::size_t leaving = 0;
    for (const auto& request : station1->Requests(RequestKind::LeavingHome)) {
        if (request.flag) {
            const auto hour = boost::posix_time::hours(static_cast<long>(2 * leaving % 24));
            EXPECT_EQ(request.arrival, ptime(boost::gregorian::date(2030, 1, 1), hour));
            ++leaving;
        }
    }
    EXPECT_EQ(leaving, rounds / 2);
}

// Regression: the readers of the two formats in use are built once and
// shared by every thread.
TEST(ApplicationThreadTest, DateAndTimeTextsAreReadOnSeveralThreadsAtOnce)
{
    std::atomic<int> wrong{0};
    const auto read = [&wrong](int offset) {
        for (int minute = 0; minute < 600; ++minute) {
            const int value = (minute + offset) % 60;
            const std::string text = (value < 10 ? "0" : "") + std::to_string(value);
            const auto station = KeldraApp::ConvertDateToPtime("24-05-20", "10:" + text + ":00", "%y-%m-%dT%H:%M:%S");
            const auto arrival = KeldraApp::ConvertDateToPtime("24-05-21", "12:" + text, "%y-%m-%dT%H:%M");
            const auto garbage = KeldraApp::ConvertDateToPtime("2024-05-21", "12:" + text, "%y-%m-%dT%H:%M");
            if (!station || station->time_of_day().minutes() != value || !arrival ||
                arrival->time_of_day().minutes() != value || !garbage || !garbage->is_not_a_date_time()) {
                ++wrong;
            }
        }
    };
    std::thread other(read, 17);
    read(0);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
