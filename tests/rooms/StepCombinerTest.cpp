#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/optional/optional_io.hpp>

#include "LogCapture.h"
#include "VirtualClockSystem.h"
#include "rooms/PowerLevelStepCombiner.h"
#include "rooms/StepCombiner.h"

using Keldra::PowerLevel;
using Keldra::PowerLevelStepCombiner;
using Keldra::StepCombiner;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Milliseconds = boost::chrono::milliseconds;
using Lines = std::vector<std::string>;
using Writes = std::vector<boost::optional<PowerLevel>>;

namespace {

PowerLevel Level(unsigned char value) { return *PowerLevel::Create(value); }

class PowerLevelStepCombinerTest : public testing::Test {
protected:
    PowerLevelStepCombinerTest() { combiner = MakeCombiner(); }

    std::unique_ptr<PowerLevelStepCombiner> MakeCombiner()
    {
        const Oru::function<std::unique_ptr<Oru::WaitableTimer>()> timerFactory = [this] {
            return clock.CreateTimer();
        };
        return std::make_unique<PowerLevelStepCombiner>(
            "(1/0)", timerFactory(), [this](boost::optional<PowerLevel> level) { writes.push_back(level); },
            [this] { return currentSetpoint; }, [] { return Level(1); });
    }

    // '+' one step up, '-' one step down, each `gap` after the previous.
    void Press(const std::string& presses, Milliseconds gap = Milliseconds(50))
    {
        for (std::size_t i = 0; i < presses.size(); ++i) {
            if (i > 0) {
                clock.Advance(gap);
            }
            if (presses[i] == '+') {
                ++*combiner;
            } else {
                --*combiner;
            }
        }
    }

    Lines InfoAndErrorLines() const
    {
        Lines lines;
        for (const auto& entry : log.Entries()) {
            if (entry.level == log4cplus::INFO_LOG_LEVEL || entry.level == log4cplus::ERROR_LOG_LEVEL) {
                lines.push_back(entry.message);
            }
        }
        return lines;
    }

    LogCapture log;
    VirtualClockSystem clock;
    boost::optional<PowerLevel> currentSetpoint;
    Writes writes;
    std::unique_ptr<PowerLevelStepCombiner> combiner;
};

}  // namespace

TEST_F(PowerLevelStepCombinerTest, StepsWithinTheWindowBecomeOneWrite)
{
    struct Case {
        const char* presses;
        boost::optional<PowerLevel> current;
        boost::optional<PowerLevel> written;  // none: finished without a write
        Lines lines;
    };
    const Case cases[] = {
        {"+++", Level(4), Level(7), {"   # Set power level steps: 3 (1/0)", "   # New Power level: 0x07 (1/0)"}},
        {"+-+", Level(4), Level(5), {"   # Set power level steps: 1 (1/0)", "   # New Power level: 0x05 (1/0)"}},
        {"+-", Level(4), boost::none, {"   # Set power level steps: 0 (1/0)"}},
        {"+++++", Level(8), Level(10), {"   # Set power level steps: 5 (1/0)", "   # New Power level: 0x0a (1/0)"}},
        {"---", Level(2), Level(1), {"   # Set power level steps: -3 (1/0)", "   # New Power level: 0x01 (1/0)"}},
        {"-", Level(1), boost::none, {"   # Set power level steps: -1 (1/0)", "   # Power level unchanged: 1 (1/0)"}},
        {"+", Level(10), boost::none, {"   # Set power level steps: 1 (1/0)", "   # Power level unchanged: 10 (1/0)"}},
        {"-", Level(0), Level(1), {"   # Set power level steps: -1 (1/0)", "   # New Power level: 0x01 (1/0)"}},
        {"++++++++++++", Level(0), Level(10), {"   # Set power level steps: 12 (1/0)", "   # New Power level: 0x0a (1/0)"}},
        {"+",
         boost::none,
         boost::none,
         {"   # Set power level steps: 1 (1/0)", "Cannot change power level relative b/c current setpoint is unknown (1/0)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.presses) + " from " + (c.current ? std::to_string(c.current->Value()) : "none"));
        log.Clear();
        writes.clear();
        currentSetpoint = c.current;

        Press(c.presses);
        clock.Advance(Milliseconds(299));
        EXPECT_TRUE(writes.empty());
        clock.Advance(Milliseconds(1));
        EXPECT_EQ(writes, Writes{c.written});
        EXPECT_EQ(InfoAndErrorLines(), c.lines);
        EXPECT_EQ(clock.PendingWaitCount(), 0u);
    }
}

TEST_F(PowerLevelStepCombinerTest, QuietPeriodCountsFromTheLatestStep)
{
    currentSetpoint = Level(0);
    Press("+++++", Milliseconds(200));
    EXPECT_TRUE(writes.empty());
    clock.Advance(Milliseconds(299));
    EXPECT_TRUE(writes.empty());
    clock.Advance(Milliseconds(1));
    EXPECT_EQ(writes, Writes{Level(5)});

    // Steps further apart than the window are reported one by one.
    writes.clear();
    Press("++", Milliseconds(300));
    EXPECT_EQ(writes, Writes{Level(1)});
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, (Writes{Level(1), Level(1)}));
}

TEST_F(PowerLevelStepCombinerTest, AbsoluteWriteDropsTheStepsAndLaterStepsStartFromIt)
{
    currentSetpoint = Level(4);
    Press("++");
    combiner->SetPendingOperation(Level(6));
    clock.Advance(Milliseconds(1000));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(InfoAndErrorLines(),
              (Lines{"   # Stepping cancelled due to absolute value (1/0)", "Combining of powerlevel steps canceled"}));

    Press("+");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, Writes{Level(7)});

    // Until its response arrives, every step starts from the pending level.
    Press("-");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, (Writes{Level(7), Level(5)}));

    combiner->ResetPendingOperations();
    Press("+");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, (Writes{Level(7), Level(5), Level(5)}));
}

TEST_F(PowerLevelStepCombinerTest, FullCycleWithTheOwnersPendingWrite)
{
    currentSetpoint = Level(4);
    combiner = std::make_unique<PowerLevelStepCombiner>(
        "(2/3)", clock.CreateTimer(),
        [this](boost::optional<PowerLevel> level) {
            writes.push_back(level);
            if (level) {
                combiner->SetPendingOperation(*level);
            }
        },
        [this] { return currentSetpoint; }, [] { return Level(1); });

    Press("+++");
    clock.Advance(Milliseconds(300));
    Press("+");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, (Writes{Level(7), Level(8)}));
    combiner->ResetPendingOperations();
    combiner->ResetPendingOperations();
    Press("+");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, (Writes{Level(7), Level(8), Level(5)}));
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Combining of powerlevel steps canceled"), 0u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "   # Stepping cancelled due to absolute value (2/3)"), 3u);
}

TEST_F(PowerLevelStepCombinerTest, NoCurrentSetpointWritesNothingEvenWithAPendingLevel)
{
    combiner->SetPendingOperation(Level(5));
    Press("+");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, Writes{boost::none});
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL,
                        "Cannot change power level relative b/c current setpoint is unknown (1/0)"),
              1u);
}

TEST_F(PowerLevelStepCombinerTest, StepsStartFromTheCurrentSetpointWhenAsked)
{
    currentSetpoint = Level(3);
    combiner->SetPendingOperationFromCurrent();
    currentSetpoint = Level(6);
    Press("+");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, Writes{Level(4)});

    // Without a current setpoint the start value is empty; steps then start
    // from whatever setpoint is reported later.
    currentSetpoint = boost::none;
    combiner->SetPendingOperationFromCurrent();
    currentSetpoint = Level(8);
    Press("-");
    clock.Advance(Milliseconds(300));
    EXPECT_EQ(writes, (Writes{Level(4), Level(7)}));

    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "   # Set power level steps start value: 3 (1/0)"), 1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "   # Set power level steps start value: none (1/0)"), 1u);
}

TEST_F(PowerLevelStepCombinerTest, DestroyedWithAWaitPendingTouchesNothing)
{
    currentSetpoint = Level(4);
    Press("++");
    combiner.reset();
    log.Clear();
    clock.Advance(Milliseconds(1000));
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_EQ(clock.PendingWaitCount(), 0u);
    EXPECT_EQ(clock.TimerCount(), 0u);
}

TEST_F(PowerLevelStepCombinerTest, DestroyedAfterAnAbortLogsNoCanceledLine)
{
    currentSetpoint = Level(4);
    Press("+");
    combiner->SetPendingOperation(Level(2));
    combiner.reset();
    clock.Advance(Milliseconds(1000));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(InfoAndErrorLines(), Lines{"   # Stepping cancelled due to absolute value (1/0)"});
}

namespace {

// A timer whose expiry the test triggers by hand and whose completions run
// only when the test says so, to order them against new steps.
class ManualTimer final : public Oru::WaitableTimer {
public:
    struct Queue {
        std::vector<WaitHandler> waiting;
        std::deque<std::pair<WaitHandler, boost::system::error_code>> ready;
    };

    explicit ManualTimer(std::shared_ptr<Queue> queue) : _queue(std::move(queue)) {}
    ~ManualTimer() override { cancel(); }

    boost::asio::io_service& get_io_service() override { return _ioService; }
    void async_wait(WaitHandler handler) override { _queue->waiting.push_back(std::move(handler)); }
    std::size_t cancel() override { return Complete(boost::asio::error::operation_aborted); }
    std::size_t expires_from_now(const Duration&) override { return cancel(); }
    Duration expires_from_now() const override { return Duration::zero(); }

    // The expiry: completions are queued, not run.
    std::size_t Expire() { return Complete({}); }

private:
    std::size_t Complete(boost::system::error_code error)
    {
        const std::size_t count = _queue->waiting.size();
        for (auto& handler : _queue->waiting) {
            _queue->ready.emplace_back(std::move(handler), error);
        }
        _queue->waiting.clear();
        return count;
    }

    std::shared_ptr<Queue> _queue;
    boost::asio::io_service _ioService;
};

void RunReady(ManualTimer::Queue& queue)
{
    while (!queue.ready.empty()) {
        auto [handler, error] = std::move(queue.ready.front());
        queue.ready.pop_front();
        handler(error);
    }
}

}  // namespace

TEST(StepCombiner, StepAfterTheExpiryButBeforeItsCompletionStartsAFreshWindow)
{
    auto queue = std::make_shared<ManualTimer::Queue>();
    auto timer = std::make_unique<ManualTimer>(queue);
    ManualTimer& manualTimer = *timer;
    std::vector<int> reported;
    StepCombiner combiner(std::move(timer), [&](int steps) { reported.push_back(steps); });

    ++combiner;
    manualTimer.Expire();
    ++combiner;  // arrives while the first completion waits in the queue
    RunReady(*queue);
    EXPECT_TRUE(reported.empty());

    manualTimer.Expire();
    RunReady(*queue);
    EXPECT_EQ(reported, std::vector<int>{2});
}

TEST(StepCombiner, AbortAfterTheExpiryDropsTheStepsAndLogsOnce)
{
    LogCapture log;
    auto queue = std::make_shared<ManualTimer::Queue>();
    auto timer = std::make_unique<ManualTimer>(queue);
    ManualTimer& manualTimer = *timer;
    std::vector<int> reported;
    StepCombiner combiner(std::move(timer), [&](int steps) { reported.push_back(steps); });

    ++combiner;
    --combiner;
    ++combiner;
    manualTimer.Expire();
    combiner.Abort();
    RunReady(*queue);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(log.Messages(log4cplus::INFO_LOG_LEVEL), Lines{"Combining of powerlevel steps canceled"});

    // Abort while idle: nothing to cancel, nothing logged.
    combiner.Abort();
    RunReady(*queue);
    EXPECT_EQ(log.Messages(log4cplus::INFO_LOG_LEVEL).size(), 1u);

    // The next step collects afresh.
    --combiner;
    manualTimer.Expire();
    RunReady(*queue);
    EXPECT_EQ(reported, std::vector<int>{-1});
}
