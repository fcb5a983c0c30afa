// A timer that only collects its waits: the test runs their completions
// itself, in any order, also after the timer's owner is gone.
#pragma once

#include <vector>

#include <boost/asio/io_service.hpp>

#include "support/WaitableTimer.h"

namespace Oru {
namespace Testing {

class CollectingTimer final : public Oru::WaitableTimer {
public:
    explicit CollectingTimer(std::vector<WaitHandler>& waits) : _waits(waits) {}
    boost::asio::io_service& get_io_service() override { return _ioService; }
    void async_wait(WaitHandler handler) override { _waits.push_back(std::move(handler)); }
    std::size_t cancel() override { return 0; }
    std::size_t expires_from_now(const Duration&) override { return 0; }
    Duration expires_from_now() const override { return Duration::zero(); }

private:
    boost::asio::io_service _ioService;
    std::vector<WaitHandler>& _waits;
};

}  // namespace Testing
}  // namespace Oru
