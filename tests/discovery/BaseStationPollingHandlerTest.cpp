#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "VirtualClockSystem.h"
#include "discovery/BaseStationPollingHandler.h"

using namespace Keldra;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Duration = VirtualClockSystem::Duration;

namespace {

constexpr Duration Milliseconds(long long count) { return boost::chrono::milliseconds(count); }
constexpr Duration Seconds(long long count) { return boost::chrono::seconds(count); }

class PollingHandlerTest : public ::testing::Test {
protected:
    PollingHandlerTest() : _start(_clock.GetNow()) {}

    TimerFactory Timers()
    {
        return [this]() { return _clock.CreateTimer(); };
    }

    // A polling function that records the moment of each poll, in
    // milliseconds since the test began, under the given name.
    BaseStationPollingHandler::PollingFunction Recorder(const std::string& name)
    {
        return [this, name](CancellationToken&) { _polls.push_back(name + "@" + std::to_string(Now())); };
    }

    long long Now() { return boost::chrono::duration_cast<boost::chrono::milliseconds>(_clock.GetNow() - _start).count(); }

    LogCapture _log;
    VirtualClockSystem _clock;
    VirtualClockSystem::TimePoint _start;
    std::vector<std::string> _polls;
};

TEST_F(PollingHandlerTest, FirstPollRunsOnTheEventLoopThenEveryFiveSecondsExactly)
{
    BaseStationPollingHandler handler(Timers());
    handler.RegisterPollingFunctionStatus(Recorder("A"));
    handler.Start();
    EXPECT_TRUE(_polls.empty()) << "the first poll is not made inside Start";

    _clock.RunPending();
    EXPECT_EQ(std::vector<std::string>({"A@0"}), _polls);

    _clock.Advance(Milliseconds(4999));
    EXPECT_EQ(std::vector<std::string>({"A@0"}), _polls);
    _clock.Advance(Milliseconds(1));
    EXPECT_EQ(std::vector<std::string>({"A@0", "A@5000"}), _polls);

    _clock.Advance(Seconds(10));
    EXPECT_EQ(std::vector<std::string>({"A@0", "A@5000", "A@10000", "A@15000"}), _polls);
    EXPECT_EQ(1U, _clock.PendingWaitCount());
    EXPECT_TRUE(_log.Entries().empty());
}

// Operations on one handler and the polls they lead to.
struct Step {
    enum Kind { Register, Start, Stop, Advance } kind;
    std::string name;  // Register: the polling function's name
    Duration duration;  // Advance
};

Step RegisterStep(const std::string& name) { return {Step::Register, name, Duration::zero()}; }
const Step StartStep{Step::Start, "", Duration::zero()};
const Step StopStep{Step::Stop, "", Duration::zero()};
Step AdvanceStep(Duration duration) { return {Step::Advance, "", duration}; }

struct Scenario {
    std::string description;
    std::vector<Step> steps;
    std::vector<std::string> polls;
};

TEST_F(PollingHandlerTest, StartStopAndRegistrationScenarios)
{
    const std::vector<Scenario> scenarios = {
        {"Start twice at once polls once per period",
         {RegisterStep("A"), StartStep, StartStep, AdvanceStep(Seconds(10))},
         {"A@0", "A@5000", "A@10000"}},
        {"Start again while active keeps the rhythm",
         {RegisterStep("A"), StartStep, AdvanceStep(Seconds(2)), StartStep, AdvanceStep(Seconds(8))},
         {"A@0", "A@5000", "A@10000"}},
        {"Stop then Start polls at once again",
         {RegisterStep("A"), StartStep, AdvanceStep(Seconds(2)), StopStep, AdvanceStep(Seconds(10)), StartStep,
          AdvanceStep(Milliseconds(4999)), AdvanceStep(Milliseconds(1))},
         {"A@0", "A@12000", "A@17000"}},
        {"Stop before the first poll polls nothing",
         {RegisterStep("A"), StartStep, StopStep, AdvanceStep(Seconds(20))},
         {}},
        {"Stop and Start before the first poll ran polls once",
         {RegisterStep("A"), StartStep, StopStep, StartStep, AdvanceStep(Seconds(5))},
         {"A@0", "A@5000"}},
        {"Stop twice is harmless",
         {RegisterStep("A"), StartStep, AdvanceStep(Seconds(1)), StopStep, StopStep, AdvanceStep(Seconds(20))},
         {"A@0"}},
        {"Start and Stop without a registered function do nothing",
         {StartStep, StopStep, StartStep, AdvanceStep(Seconds(20))},
         {}},
        {"Registering replaces the function and needs Start again",
         {RegisterStep("A"), StartStep, AdvanceStep(Seconds(2)), RegisterStep("B"), AdvanceStep(Seconds(10)),
          StartStep, AdvanceStep(Seconds(5))},
         {"A@0", "B@12000", "B@17000"}},
        {"Registering before Start polls only the newer function",
         {RegisterStep("A"), RegisterStep("B"), StartStep, AdvanceStep(Seconds(5))},
         {"B@0", "B@5000"}},
        {"Stop after a replacement stops the new function",
         {RegisterStep("A"), StartStep, RegisterStep("B"), StartStep, AdvanceStep(Seconds(1)), StopStep,
          AdvanceStep(Seconds(10))},
         {"B@0"}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.description);
        _polls.clear();
        _start = _clock.GetNow();
        {
            BaseStationPollingHandler handler(Timers());
            for (const auto& step : scenario.steps) {
                switch (step.kind) {
                case Step::Register: handler.RegisterPollingFunctionStatus(Recorder(step.name)); break;
                case Step::Start: handler.Start(); break;
                case Step::Stop: handler.Stop(); break;
                case Step::Advance: _clock.Advance(step.duration); break;
                }
            }
            EXPECT_EQ(scenario.polls, _polls);
        }
        _clock.RunPending();
        EXPECT_EQ(0U, _clock.PendingWaitCount());
        EXPECT_EQ(0U, _clock.TimerCount());
    }
}

TEST_F(PollingHandlerTest, EveryCycleFromTheSecondOnCancelsWhatThePreviousPollLeftInFlight)
{
    std::vector<std::string> events;
    std::vector<CancellationToken::Registration> requests;
    std::vector<const CancellationToken*> tokens;
    BaseStationPollingHandler handler(Timers());
    handler.RegisterPollingFunctionStatus([&](CancellationToken& token) {
        const std::string request = "request" + std::to_string(requests.size() + 1);
        events.push_back("poll " + request);
        tokens.push_back(&token);
        requests.push_back(token.OnCancel([&events, request]() { events.push_back("abandon " + request); }));
    });

    handler.Start();
    _clock.RunPending();
    EXPECT_EQ(std::vector<std::string>({"poll request1"}), events);

    _clock.Advance(Seconds(5));
    EXPECT_EQ(std::vector<std::string>({"poll request1", "abandon request1", "poll request2"}), events);

    // A request that completed withdrew its action: nothing to abandon.
    requests.back().Reset();
    _clock.Advance(Seconds(5));
    EXPECT_EQ(std::vector<std::string>({"poll request1", "abandon request1", "poll request2", "poll request3"}),
              events);

    // Neither Stop nor the immediate poll of a restart cancels the token.
    events.clear();
    handler.Stop();
    handler.Start();
    _clock.RunPending();
    EXPECT_EQ(std::vector<std::string>({"poll request4"}), events);
    _clock.Advance(Seconds(5));
    EXPECT_EQ(std::vector<std::string>({"poll request4", "abandon request3", "abandon request4", "poll request5"}),
              events);

    ASSERT_EQ(5U, tokens.size());
    for (const auto* token : tokens) {
        EXPECT_EQ(tokens.front(), token) << "every poll gets the beacon's one token";
        EXPECT_NE(&handler.GetCancellationToken(), token);
    }
}

TEST_F(PollingHandlerTest, DestructionWithWaitsPendingOrQueuedIsClean)
{
    // A wait pending for the next period.
    {
        BaseStationPollingHandler handler(Timers());
        handler.RegisterPollingFunctionStatus(Recorder("A"));
        handler.Start();
        _clock.RunPending();
        EXPECT_EQ(1U, _clock.PendingWaitCount());
    }
    EXPECT_EQ(0U, _clock.PendingWaitCount());
    EXPECT_EQ(0U, _clock.TimerCount());
    // The immediate first wait has already completed and its handler is
    // queued when the handler is destroyed.
    {
        BaseStationPollingHandler handler(Timers());
        handler.RegisterPollingFunctionStatus(Recorder("B"));
        handler.Start();
    }
    _clock.Advance(Seconds(20));
    EXPECT_EQ(std::vector<std::string>({"A@0"}), _polls);
    EXPECT_EQ(0U, _clock.TimerCount());
}

TEST_F(PollingHandlerTest, ThePollingFunctionMayDestroyOrReplaceItsOwnBeacon)
{
    auto handler = std::make_unique<BaseStationPollingHandler>(Timers());
    handler->RegisterPollingFunctionStatus([&](CancellationToken&) {
        _polls.push_back("A@" + std::to_string(Now()));
        handler.reset();
    });
    handler->Start();
    _clock.Advance(Seconds(20));
    EXPECT_EQ(std::vector<std::string>({"A@0"}), _polls);
    EXPECT_EQ(0U, _clock.TimerCount());

    _polls.clear();
    _start = _clock.GetNow();
    BaseStationPollingHandler replacing(Timers());
    replacing.RegisterPollingFunctionStatus([&](CancellationToken&) {
        _polls.push_back("A@" + std::to_string(Now()));
        replacing.RegisterPollingFunctionStatus(Recorder("B"));
        replacing.Start();
    });
    replacing.Start();
    _clock.Advance(Seconds(5));
    EXPECT_EQ(std::vector<std::string>({"A@0", "B@0", "B@5000"}), _polls);
    EXPECT_EQ(1U, _clock.PendingWaitCount());
}

TEST_F(PollingHandlerTest, ThePollingFunctionMayStopPolling)
{
    BaseStationPollingHandler handler(Timers());
    handler.RegisterPollingFunctionStatus([&](CancellationToken&) {
        _polls.push_back("A@" + std::to_string(Now()));
        handler.Stop();
    });
    handler.Start();
    _clock.Advance(Seconds(20));
    EXPECT_EQ(std::vector<std::string>({"A@0"}), _polls);
    EXPECT_EQ(0U, _clock.PendingWaitCount());
}

TEST_F(PollingHandlerTest, BeaconRunsOnTheTimersEventLoopWithItsOwnDelays)
{
    BaseStationPollingHandler::PollingBeacon beacon(Timers(), Seconds(1), Seconds(3), Recorder("A"));
    EXPECT_EQ(&_clock.GetIoService(), &beacon.GetIoService());
    beacon.Start();
    _clock.Advance(Milliseconds(999));
    EXPECT_TRUE(_polls.empty());
    _clock.Advance(Seconds(7));
    EXPECT_EQ(std::vector<std::string>({"A@1000", "A@4000", "A@7000"}), _polls);

    // One poll at once and the next wait restarted from here.
    beacon.ContinueSearch();
    _clock.Advance(Seconds(3));
    EXPECT_EQ(std::vector<std::string>({"A@1000", "A@4000", "A@7000", "A@7999", "A@10999"}), _polls);
}

TEST(PollingHandlerDeathTest, APollOutsideTheActiveStateIsAProgrammingError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    VirtualClockSystem clock;
    BaseStationPollingHandler::PollingBeacon beacon([&clock]() { return clock.CreateTimer(); }, Duration::zero(),
                                                    Seconds(5), [](CancellationToken&) {});
    EXPECT_DEATH(beacon.ContinueSearch(), "FATAL .* ORU_ASSERT2\\(_isActive\\) failed");
}

TEST(PollingHandlerDeathTest, AMissingTimerIsAProgrammingError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    BaseStationPollingHandler handler([]() { return std::unique_ptr<Oru::WaitableTimer>(); });
    EXPECT_DEATH(handler.RegisterPollingFunctionStatus([](CancellationToken&) {}),
                 "FATAL .* ORU_ASSERT2\\(_timer != nullptr\\) failed");
}

}  // namespace
