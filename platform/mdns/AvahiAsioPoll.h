// Avahi's event loop interface (AvahiPoll) on a boost::asio::io_service, so
// that an Avahi client runs on the caller's event loop, without a thread.
#pragma once

#include <memory>
#include <mutex>

#include <avahi-common/watch.h>
#include <boost/asio/io_service.hpp>

namespace Oru {

// File descriptors are watched with posix::stream_descriptor waits that
// never own the descriptor (it is released, not closed); timeouts are steady
// timers. Watches behave as poll(2) does: a watch whose descriptor stays
// ready is called again. A watch or timeout that is freed is never called
// back, even when its wait has already completed.
//
// Avahi is not thread-safe. The mutex is held by every AvahiPoll operation
// and while a watch or timeout calls back; code that calls into Avahi from
// outside those callbacks takes it too, so that only one thread at a time
// is inside Avahi.
class AvahiAsioPoll {
public:
    explicit AvahiAsioPoll(boost::asio::io_service& ioService);
    // Watches and timeouts still alive are switched off (their owner, the
    // Avahi client, should have freed them before).
    ~AvahiAsioPoll();
    AvahiAsioPoll(const AvahiAsioPoll&) = delete;
    AvahiAsioPoll& operator=(const AvahiAsioPoll&) = delete;

    // Valid while this object lives.
    const AvahiPoll* GetApi() const;
    boost::asio::io_service& GetIoService() const;
    std::recursive_mutex& GetMutex() const;

    struct Core;

private:
    std::shared_ptr<Core> _core;
};

}  // namespace Oru
