// The application with two threads, as the gateway runs it: the test's
// thread is the host's and delivers values from the bus, a second thread
// runs the event loop (virtual time advancing without pause, so the stations
// are polled while the values arrive).
#include <atomic>
#include <string>
#include <thread>
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

// Runs the fixture's event loop on its own thread until stopped.
class EventLoopThread {
public:
    explicit EventLoopThread(Oru::Testing::VirtualClockSystem& clock)
        : _thread([this, &clock]() {
              while (!_stop.load()) {
                  clock.Advance(boost::chrono::milliseconds(100));
                  _rounds.fetch_add(1);
              }
          })
    {
    }
    ~EventLoopThread() { Stop(); }
    EventLoopThread(const EventLoopThread&) = delete;
    EventLoopThread& operator=(const EventLoopThread&) = delete;

    void Stop()
    {
        _stop.store(true);
        if (_thread.joinable()) {
            _thread.join();
        }
    }
    unsigned Rounds() const { return _rounds.load(); }

private:
    std::atomic<bool> _stop{false};
    std::atomic<unsigned> _rounds{0};
    std::thread _thread;
};

TEST(ApplicationThreadTest, ValuesFromTheHostsThreadReachTheStationsInOrderWhileTheyArePolled)
{
    ApplicationFixture fixture;
    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    const std::size_t setpoints = 300;

    {
        QuietConsole quiet;
        EventLoopThread loop(fixture.clock);
        for (std::size_t index = 0; index < setpoints; ++index) {
            // 20.0, 20.5, ..., 24.5, 20.0, ...
            fixture.app->OnValueReceived(2, 20.0f + static_cast<float>(index % 10) * 0.5f);
            fixture.app->OnValueReceived(37, static_cast<unsigned char>(index % 11));
            fixture.app->OnValueReceived(141, index % 2 == 0);
            fixture.app->OnValueReceived(512, ptime(boost::gregorian::date(2030, 1, 1)));
            fixture.app->OnValueReceived(514, *OruApp::TimeOfDay::Create(static_cast<int>(index % 24), 0));
            fixture.app->OnValueReceived(510, index % 2 == 0);
            fixture.app->OnValueReceived(516, index % 3 == 0);
            fixture.app->OnValueReceived(39, static_cast<unsigned char>(200));
        }
        // Some polls while the values were arriving.
        while (loop.Rounds() < 60) {
            std::this_thread::yield();
        }
        loop.Stop();
    }
    fixture.RunPending();

    const auto requests = fixture.WebApiOf(0)->Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(requests.size(), setpoints);
    for (std::size_t index = 0; index < setpoints; ++index) {
        EXPECT_EQ(requests[index].temperature, 20.0 + static_cast<double>(index % 10) * 0.5) << index;
    }
    const auto levels = fixture.WebApiOf(0)->Requests(RequestKind::PowerLevel);
    ASSERT_EQ(levels.size(), 2 * setpoints);
    for (std::size_t index = 0; index < setpoints; ++index) {
        EXPECT_EQ(levels[2 * index].level->Value(), index % 11) << index;
        EXPECT_EQ(levels[2 * index + 1].level->Value(), 8u) << index;
    }
    EXPECT_EQ(fixture.Count(RequestKind::CoolingMode), 2 * setpoints);
    EXPECT_GT(fixture.WebApiOf(0)->Count(RequestKind::Status), 1u);
    // Every "leaving" from the bus, with its arrival years ahead of the
    // master's time; the switch-offs are the bus's and those of the room
    // writes that found leaving home active.
    std::size_t leaving = 0;
    for (const auto& request : fixture.WebApiOf(0)->Requests(RequestKind::LeavingHome)) {
        if (request.flag) {
            const auto hour = boost::posix_time::hours(static_cast<long>(2 * leaving % 24));
            EXPECT_EQ(request.arrival, ptime(boost::gregorian::date(2030, 1, 1), hour));
            ++leaving;
        }
    }
    EXPECT_EQ(leaving, setpoints / 2);
}

TEST(ApplicationThreadTest, ExitAfterTheEventLoopStoppedLeavesNothingRunning)
{
    ApplicationFixture fixture;
    ASSERT_NO_FATAL_FAILURE(fixture.Start());
    {
        QuietConsole quiet;
        EventLoopThread loop(fixture.clock);
        for (int index = 0; index < 100; ++index) {
            fixture.app->OnValueReceived(2, 21.5f);
            fixture.app->OnValueReceived(37, static_cast<unsigned char>(11));
        }
        while (loop.Rounds() < 100) {
            std::this_thread::yield();
        }
        // As the entry point's exit function does: the worker stops first.
        loop.Stop();
        fixture.app->Exit(&fixture.host);
    }
    EXPECT_EQ(fixture.exitCalls, 1);
    fixture.app.reset();
    fixture.clock.Advance(boost::chrono::seconds(30));
}

TEST(ApplicationThreadTest, DateAndTimeTextsAreReadOnSeveralThreadsAtOnce)
{
    // The readers of the two formats in use are shared by every thread.
    const auto read = [](int offset, std::atomic<int>& wrong) {
        for (int minute = 0; minute < 600; ++minute) {
            const int value = (minute + offset) % 60;
            const std::string text = (value < 10 ? "0" : "") + std::to_string(value);
            const auto station = KeldraApp::ConvertDateToPtime("24-05-20", "10:" + text + ":00", "%y-%m-%dT%H:%M:%S");
            const auto arrival = KeldraApp::ConvertDateToPtime("24-05-21", "12:" + text, "%y-%m-%dT%H:%M");
            const auto garbage = KeldraApp::ConvertDateToPtime("24-05-21", "12:" + text + "x", "%y-%m-%dT%H:%M");
            if (!station || station->time_of_day().minutes() != value || !arrival ||
                arrival->time_of_day().minutes() != value || !garbage || !garbage->is_not_a_date_time()) {
                ++wrong;
            }
        }
    };
    std::atomic<int> wrong{0};
    std::thread other([&]() { read(17, wrong); });
    read(0, wrong);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
