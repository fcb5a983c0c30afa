#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "tests/testing/LogCapture.h"
#include "tests/testing/VirtualClockSystem.h"
#include "rooms/PowerLevelStepCombiner.h"
#include "rooms/StepCombiner.h"

using Keldra::PowerLevel;
using Milliseconds = boost::chrono::milliseconds;
using Lines = std::vector<std::string>;
using Writes = std::vector<boost::optional<PowerLevel>>;
const auto Info = log4cplus::INFO_LOG_LEVEL;

namespace {

PowerLevel Level(unsigned char value) { return *PowerLevel::Create(value); }

class PowerLevelStepCombinerTest : public testing::Test {
protected:
    // pendingOnWrite: the owner marks each level it writes as pending.
    void Make(bool pendingOnWrite = false)
    {
        combiner = std::make_unique<Keldra::PowerLevelStepCombiner>(
            "(1/0)", clock.CreateTimer(),
            [this, pendingOnWrite](boost::optional<PowerLevel> level) {
                writes.push_back(level);
                if (pendingOnWrite && level) {
                    combiner->SetPendingOperation(*level);
                }
            },
            [this] { return currentSetpoint; }, [] { return Level(1); });
    }

    // '+' one step up, '-' one step down, 50 ms apart unless told; then wait.
    void Press(const std::string& presses, int afterMs = 300, int gapMs = 50)
    {
        for (std::size_t i = 0; i < presses.size(); ++i) {
            clock.Advance(Milliseconds(i > 0 ? gapMs : 0));
            if (presses[i] == '+') {
                ++*combiner;
            } else {
                --*combiner;
            }
        }
        clock.Advance(Milliseconds(afterMs));
    }

    Oru::Testing::LogCapture log;
    Oru::Testing::VirtualClockSystem clock;
    boost::optional<PowerLevel> currentSetpoint;
    Writes writes;
    std::unique_ptr<Keldra::PowerLevelStepCombiner> combiner;
};

TEST_F(PowerLevelStepCombinerTest, StepsWithinTheWindowBecomeOneWrite)
{
    // Presses, current setpoint, level written (none: finished without a
    // write), lines logged.
    using Case = std::tuple<const char*, boost::optional<PowerLevel>, boost::optional<PowerLevel>, Lines>;
    const std::string steps = "   # Set power level steps: ", name = " (1/0)", now = "   # New Power level: 0x0";
    const Case cases[] = {
        {"+++", Level(4), Level(7), {steps + "3" + name, now + "7" + name}},
        {"+-+", Level(4), Level(5), {steps + "1" + name, now + "5" + name}},
        {"+-", Level(4), boost::none, {steps + "0" + name}},
        {"+++++", Level(8), Level(10), {steps + "5" + name, now + "a" + name}},
        {"---", Level(2), Level(1), {steps + "-3" + name, now + "1" + name}},
        {"-", Level(1), boost::none, {steps + "-1" + name, "   # Power level unchanged: 1" + name}},
        {"+", Level(10), boost::none, {steps + "1" + name, "   # Power level unchanged: 10" + name}},
        {"-", Level(0), Level(1), {steps + "-1" + name, now + "1" + name}},
        {"++++++++++++", Level(0), Level(10), {steps + "12" + name, now + "a" + name}},
        {"+", boost::none, boost::none,
         {steps + "1" + name, "Cannot change power level relative b/c current setpoint is unknown" + name}},
    };
    Make();
    for (const auto& [presses, current, written, expectedLines] : cases) {
        SCOPED_TRACE(std::string(presses) + " from " + (current ? std::to_string(current->Value()) : "none"));
        log.Clear();
        writes.clear();
        currentSetpoint = current;
        Press(presses, 299);
        EXPECT_TRUE(writes.empty());
        clock.Advance(Milliseconds(1));
        EXPECT_EQ(writes, Writes{written});
        Lines lines;
        for (const auto& entry : log.Entries()) {
            lines.push_back(entry.message);
        }
        EXPECT_EQ(lines, expectedLines);
        EXPECT_EQ(clock.PendingWaitCount(), 0u);
    }
}

// The owner marks each level it writes as pending, from inside the callback.
TEST_F(PowerLevelStepCombinerTest, StepsStartFromThePendingLevelUntilItsResponse)
{
    Make(true);
    currentSetpoint = Level(0);
    Press("+++++", 299, 200);  // the quiet period counts from the latest step
    EXPECT_TRUE(writes.empty());
    clock.Advance(Milliseconds(1));
    Press("++", 300, 300);  // further apart than the window: one by one
    EXPECT_EQ(writes, (Writes{Level(5), Level(6), Level(7)}));
    writes.clear();
    log.Clear();
    combiner->ResetPendingOperations();
    currentSetpoint = Level(4);
    Press("++", 0);
    combiner->SetPendingOperation(Level(6));
    clock.Advance(Milliseconds(1000));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(log.Messages(Info),
              (Lines{"   # Stepping cancelled due to absolute value (1/0)", "Combining of powerlevel steps canceled"}));
    Press("+");
    Press("-");
    combiner->ResetPendingOperations();
    combiner->ResetPendingOperations();
    Press("+");
    // Start from the current setpoint; when there is none, from the one
    // reported later.
    currentSetpoint = Level(3);
    combiner->SetPendingOperationFromCurrent();
    currentSetpoint = Level(6);
    Press("+");
    currentSetpoint = boost::none;
    combiner->SetPendingOperationFromCurrent();
    currentSetpoint = Level(8);
    Press("-");
    EXPECT_EQ(writes, (Writes{Level(7), Level(6), Level(5), Level(4), Level(7)}));
    EXPECT_EQ(log.Count(Info, "   # Set power level steps start value: 3 (1/0)"), 1u);
    EXPECT_EQ(log.Count(Info, "   # Set power level steps start value: none (1/0)"), 1u);
    EXPECT_EQ(log.Count(Info, "   # Stepping cancelled due to absolute value (1/0)"), 6u);
    EXPECT_EQ(log.Count(Info, "Combining of powerlevel steps canceled"), 1u);

    // Without a current setpoint nothing is written, even with a pending level.
    currentSetpoint = boost::none;
    combiner->SetPendingOperation(Level(5));
    Press("+");
    EXPECT_EQ(writes.back(), boost::none);
}

TEST_F(PowerLevelStepCombinerTest, DestroyedWithAWaitPendingOrAfterAnAbortTouchesNothing)
{
    for (const bool abort : {false, true}) {
        Make();
        currentSetpoint = Level(4);
        Press("++", 0);
        if (abort) {
            combiner->SetPendingOperation(Level(2));
        }
        log.Clear();
        combiner.reset();
        clock.Advance(Milliseconds(1000));
        EXPECT_TRUE(writes.empty());
        EXPECT_TRUE(log.Entries().empty());
        EXPECT_EQ(clock.TimerCount(), 0u);
    }
}

class StepCombinerTest : public testing::Test {
protected:
    const Milliseconds quietPeriod{300};
    Oru::Testing::VirtualClockSystem clock;
    std::vector<int> reported;
    Keldra::StepCombiner combiner{clock.CreateTimer(), [this](int steps) { reported.push_back(steps); }};
};

// Only the completion of the latest wait acts, also when an earlier one had
// expired before the step came; an abort drops the steps.
TEST_F(StepCombinerTest, OnlyTheLatestWaitReportsAndAnAbortDropsTheSteps)
{
    Oru::Testing::LogCapture log;
    ++combiner;
    clock.ExpireWithoutRunning(quietPeriod);
    ++combiner;  // the first completion waits in the queue
    clock.RunPending();
    EXPECT_TRUE(reported.empty());
    clock.Advance(quietPeriod);
    EXPECT_EQ(reported, std::vector<int>{2});

    ++combiner;
    --combiner;
    ++combiner;
    clock.ExpireWithoutRunning(quietPeriod);
    combiner.Abort();
    clock.RunPending();
    combiner.Abort();  // idle: nothing to cancel, nothing logged
    EXPECT_EQ(reported, std::vector<int>{2});
    EXPECT_EQ(log.Messages(Info), Lines{"Combining of powerlevel steps canceled"});
    --combiner;  // collects afresh
    clock.Advance(quietPeriod);
    EXPECT_EQ(reported, (std::vector<int>{2, -1}));
}

}  // namespace
