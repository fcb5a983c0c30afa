#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "tests/testing/LogCapture.h"
#include "rooms/OptimisticValue.h"

using Keldra::OptimisticValue;

namespace {

// The cache holds text here; "v" and "w" are two values.
TEST(OptimisticValue, Scenarios)
{
    // "Sv1" stores v and expects token 1; "Gv1" asks with token 1 and
    // expects v, "G-1" nothing; "T-5" starts afresh with token 5.
    const std::pair<const char*, const char*> scenarios[] = {
        {"same value twice shares a token and is handed out once", "Sv1 Sv1 Gv1 G-1"},
        {"a newer different value makes the older token worthless", "Sv1 Sw2 G-1 Gw2"},
        {"after consumption the same value is stored anew", "Sv1 Gv1 Sv2 Gv2"},
        {"only the cached value counts as unchanged", "Sv1 Sw2 Sv3"},
        {"a stale token leaves the cache alone", "Sv1 G-7 G-0 Gv1"},
        {"token 0 on a fresh cache finds it empty", "G-0 Sv1"},
        {"an older write's response after a newer one's gets nothing", "Sv1 Sw2 Gw2 G-1 Sw3"},
        {"the token wraps after the largest value", "T-4294967295 Sv0 G-4294967295 Gv0"},
    };
    for (const auto& [name, steps] : scenarios) {
        SCOPED_TRACE(name);
        OptimisticValue<std::string> cache;
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            SCOPED_TRACE(step);
            const std::string value(1, step[1]);
            const auto token = static_cast<std::uint32_t>(std::stoul(step.substr(2)));
            if (step[0] == 'T') {
                cache = OptimisticValue<std::string>(token);
            } else if (step[0] == 'S') {
                EXPECT_EQ(cache.SetValue(value), token);
            } else {
                EXPECT_EQ(cache.GetValue(token), value == "-" ? boost::none : boost::make_optional(value));
            }
        }
    }
}

TEST(OptimisticValue, LogsEveryChangeAndRequest)
{
    Oru::Testing::LogCapture log;
    OptimisticValue<std::string> cache;
    cache.SetValue("v");
    cache.SetValue("v");
    cache.SetValue("w");
    cache.GetValue(1);
    EXPECT_EQ(log.Messages(log4cplus::DEBUG_LOG_LEVEL),
              (std::vector<std::string>{"Optimistic value cache changed, Validity Token: 1",
                                        "Optimistic value cache did not change, Validity Token: 1",
                                        "Optimistic value cache changed, Validity Token: 2",
                                        "Optimistic value requested for Validity Token: 1, current ValidityToken: 2"}));
    EXPECT_EQ(log.Entries().size(), 4u);
}

}  // namespace
