// Driving a real event loop from a test's own thread.
#pragma once

#include <chrono>
#include <functional>

#include <boost/asio/io_service.hpp>

namespace Oru {
namespace Testing {

// Runs what is ready now, and what that makes ready, until nothing is.
inline void RunReady(boost::asio::io_service& ioService)
{
    ioService.restart();
    ioService.poll();
}

// Runs the loop until the condition holds or the limit has passed; the
// condition's value at the end.
inline bool RunUntil(boost::asio::io_service& ioService, const std::function<bool()>& condition,
                     std::chrono::steady_clock::duration limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        ioService.restart();
        ioService.run_one_for(std::chrono::milliseconds(20));
    }
    return condition();
}

}  // namespace Testing
}  // namespace Oru
