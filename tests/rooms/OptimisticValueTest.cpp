#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "LogCapture.h"
#include "rooms/OptimisticValue.h"

using Keldra::OptimisticValue;
using Oru::Testing::LogCapture;

namespace {

struct Setpoint {
    int room;
    float temperature;
    boost::optional<bool> enabled;

    friend bool operator==(const Setpoint& a, const Setpoint& b)
    {
        return a.room == b.room && a.temperature == b.temperature && a.enabled == b.enabled;
    }
    friend std::ostream& operator<<(std::ostream& stream, const Setpoint& value)
    {
        return stream << "{" << value.room << ", " << value.temperature << ", " << value.enabled << "}";
    }
};

const Setpoint v{3, 21.5f, boost::none};
const Setpoint w{3, 22.0f, boost::none};
const Setpoint vEnabled{3, 21.5f, true};

// One call on the cache: Set(value) expecting a token, or Get(token)
// expecting a value or nothing.
struct Step {
    enum Kind { Set, Get } kind;
    Setpoint value;            // Set: the value stored
    std::uint32_t token;       // Set: the token expected; Get: the token asked
    boost::optional<Setpoint> expected;  // Get: the value expected
};

Step SetExpecting(const Setpoint& value, std::uint32_t token) { return {Step::Set, value, token, boost::none}; }
Step GetExpecting(std::uint32_t token, boost::optional<Setpoint> expected) { return {Step::Get, {}, token, expected}; }

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

}  // namespace

TEST(OptimisticValue, Scenarios)
{
    const Scenario scenarios[] = {
        {"same value twice shares a token and is handed out once",
         {SetExpecting(v, 1), SetExpecting(v, 1), GetExpecting(1, v), GetExpecting(1, boost::none)}},
        {"a newer different value makes the older token worthless",
         {SetExpecting(v, 1), SetExpecting(w, 2), GetExpecting(1, boost::none), GetExpecting(2, w)}},
        {"after consumption the same value is stored anew",
         {SetExpecting(v, 1), GetExpecting(1, v), SetExpecting(v, 2), GetExpecting(2, v)}},
        {"only the cached value counts as unchanged", {SetExpecting(v, 1), SetExpecting(w, 2), SetExpecting(v, 3)}},
        {"optional fields take part in the comparison", {SetExpecting(v, 1), SetExpecting(vEnabled, 2)}},
        {"a stale token leaves the cache alone",
         {SetExpecting(v, 1), GetExpecting(7, boost::none), GetExpecting(0, boost::none), GetExpecting(1, v)}},
        {"token 0 on a fresh cache finds it empty", {GetExpecting(0, boost::none), SetExpecting(v, 1)}},
        {"a response for an older write after a consumed newer one gets nothing",
         {SetExpecting(v, 1), SetExpecting(w, 2), GetExpecting(2, w), GetExpecting(1, boost::none), SetExpecting(w, 3)}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        OptimisticValue<Setpoint> cache;
        for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i + 1));
            const auto& step = scenario.steps[i];
            if (step.kind == Step::Set) {
                EXPECT_EQ(cache.SetValue(step.value), step.token);
            } else {
                EXPECT_EQ(cache.GetValue(step.token), step.expected);
            }
        }
    }
}

TEST(OptimisticValue, TokenWrapsAfterTheLargestValue)
{
    OptimisticValue<Setpoint> cache(std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(cache.SetValue(v), 0u);
    EXPECT_EQ(cache.GetValue(std::numeric_limits<std::uint32_t>::max()), boost::none);
    EXPECT_EQ(cache.GetValue(0), v);
    EXPECT_EQ(cache.SetValue(w), 1u);
}

TEST(OptimisticValue, LogsEveryChangeAndRequest)
{
    LogCapture log;
    OptimisticValue<Setpoint> cache;
    cache.SetValue(v);
    cache.SetValue(v);
    cache.SetValue(w);
    cache.GetValue(1);

    const std::vector<std::string> expected = {
        "Optimistic value cache changed, Validity Token: 1",
        "Optimistic value cache did not change, Validity Token: 1",
        "Optimistic value cache changed, Validity Token: 2",
        "Optimistic value requested for Validity Token: 1, current ValidityToken: 2",
    };
    EXPECT_EQ(log.Messages(log4cplus::DEBUG_LOG_LEVEL), expected);
    for (const auto& entry : log.Entries()) {
        EXPECT_EQ(entry.source, "OptimisticValue");
    }
}
