#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/testing/LogCapture.h"
#include "tests/testing/VirtualClockSystem.h"
#include "discovery/BaseStationPollingHandler.h"

using namespace Keldra;
using Lines = std::vector<std::string>;
using Seconds = boost::chrono::seconds;

namespace {

class PollingHandlerTest : public ::testing::Test {
protected:
    TimerFactory Timers()
    {
        return [this]() { return _clock.CreateTimer(); };
    }

    // Records each poll as "name@milliseconds since the test began".
    BaseStationPollingHandler::PollingFunction Recorder(const std::string& name)
    {
        return [this, name](CancellationToken&) {
            const auto elapsed = boost::chrono::duration_cast<boost::chrono::milliseconds>(_clock.GetNow() - _start);
            _polls.push_back(name + "@" + std::to_string(elapsed.count()));
        };
    }

    Oru::Testing::LogCapture _log;
    Oru::Testing::VirtualClockSystem _clock;
    Oru::Testing::VirtualClockSystem::TimePoint _start = _clock.GetNow();
    Lines _polls;
    std::unique_ptr<BaseStationPollingHandler> _handler;
};

// "RA" registers the function A, "S" starts, "T" stops, "+5000" advances
// the clock by milliseconds; then the handler is destroyed. The functions X,
// T and C, after recording their poll, destroy the handler, stop it, or
// register D and start again.
TEST_F(PollingHandlerTest, StartStopAndRegistrationScenarios)
{
    const std::tuple<const char*, const char*, Lines> scenarios[] = {
        {"first poll on the event loop, not in Start", "RA S T +20000", {}},
        {"then every five seconds exactly", "RA S +4999", {"A@0"}},
        {"then every five seconds exactly", "RA S +5000 +10000", {"A@0", "A@5000", "A@10000", "A@15000"}},
        {"Start twice at once polls once per period", "RA S S +10000", {"A@0", "A@5000", "A@10000"}},
        {"Start again while active keeps the rhythm", "RA S +2000 S +8000", {"A@0", "A@5000", "A@10000"}},
        {"Stop then Start polls at once again", "RA S +2000 T +10000 S +4999 +1", {"A@0", "A@12000", "A@17000"}},
        {"Stop and Start before the first poll ran polls once", "RA S T S +5000", {"A@0", "A@5000"}},
        {"Stop twice is harmless", "RA S +1000 T T +20000", {"A@0"}},
        {"Start and Stop without a registered function do nothing", "S T S +20000", {}},
        {"Registering replaces the function and needs Start again", "RA S +2000 RB +10000 S +5000",
         {"A@0", "B@12000", "B@17000"}},
        {"Registering before Start polls only the newer function", "RA RB S +5000", {"B@0", "B@5000"}},
        {"Stop after a replacement stops the new function", "RA S RB S +1000 T +10000", {"B@0"}},
        {"destroyed with the first poll's completion queued", "RA S", {}},
        {"the function may destroy its handler", "RX S +20000", {"X@0"}},
        {"the function may stop its polling", "RT S +20000", {"T@0"}},
        {"the function may replace itself and start again", "RC S +5000", {"C@0", "D@0", "D@5000"}},
    };
    for (const auto& [description, steps, polls] : scenarios) {
        SCOPED_TRACE(steps);
        _polls.clear();
        _start = _clock.GetNow();
        _handler = std::make_unique<BaseStationPollingHandler>(Timers());
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            if (step[0] == 'R') {
                _handler->RegisterPollingFunctionStatus([this, name = step.substr(1)](CancellationToken& token) {
                    Recorder(name)(token);
                    if (name == "X") {
                        _handler.reset();
                    } else if (name == "T") {
                        _handler->Stop();
                    } else if (name == "C") {
                        _handler->RegisterPollingFunctionStatus(Recorder("D"));
                        _handler->Start();
                    }
                });
            } else if (step[0] == '+') {
                _clock.Advance(boost::chrono::milliseconds(std::stoi(step.substr(1))));
            } else {
                step == "S" ? _handler->Start() : _handler->Stop();
            }
        }
        _handler.reset();
        _clock.RunPending();  // completions that come after the destruction
        EXPECT_EQ(polls, _polls) << description;
        EXPECT_EQ(0U, _clock.PendingWaitCount());
        EXPECT_EQ(0U, _clock.TimerCount());
    }
    EXPECT_TRUE(_log.Entries().empty());
}

TEST_F(PollingHandlerTest, EveryCycleFromTheSecondOnCancelsWhatThePreviousPollLeftInFlight)
{
    Lines events;
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
    _clock.Advance(Seconds(5));
    requests.back().Reset();  // request2 completed and withdrew its action
    _clock.Advance(Seconds(5));
    // Neither Stop nor the immediate poll of a restart cancels the token.
    handler.Stop();
    handler.Start();
    _clock.Advance(Seconds(5));
    EXPECT_EQ((Lines{"poll request1", "abandon request1", "poll request2", "poll request3", "poll request4",
                     "abandon request3", "abandon request4", "poll request5"}),
              events);
    for (const auto* token : tokens) {
        EXPECT_EQ(tokens.front(), token) << "every poll gets the beacon's one token";
        EXPECT_NE(&handler.GetCancellationToken(), token);
    }
}

}  // namespace
