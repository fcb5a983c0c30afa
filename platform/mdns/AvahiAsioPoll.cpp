#include "AvahiAsioPoll.h"

#include <poll.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/host/OruLogging.h"

namespace Oru {

class WatchedDescriptor;

}  // namespace Oru

// Avahi declares the watch and timeout types and leaves their definition to
// the provider of the event loop.
struct AvahiWatch {
    AvahiWatch(Oru::WatchedDescriptor& watched, AvahiWatchEvent watchedEvents, AvahiWatchCallback watchCallback,
               void* watchUserdata)
        : descriptor(watched), events(watchedEvents), callback(watchCallback), userdata(watchUserdata)
    {
    }

    Oru::WatchedDescriptor& descriptor;  // outlives the watch until the watch is freed
    AvahiWatchEvent events;
    AvahiWatchCallback callback;
    void* userdata;
    short happened = 0;  // the events being reported, while the callback runs
    bool freed = false;
};

struct AvahiTimeout : std::enable_shared_from_this<AvahiTimeout> {
    AvahiTimeout(Oru::AvahiAsioPoll::Core& pollCore, AvahiTimeoutCallback timeoutCallback, void* timeoutUserdata);

    void Set(const struct timeval* expiry);
    void Free();

    Oru::AvahiAsioPoll::Core& core;
    boost::asio::steady_timer timer;
    AvahiTimeoutCallback callback;
    void* userdata;
    // Moves on with every Set, so that a completed wait of an earlier
    // setting is recognised and dropped.
    std::uint64_t generation = 0;
    bool freed = false;
};

namespace Oru {

struct AvahiAsioPoll::Core : std::enable_shared_from_this<AvahiAsioPoll::Core> {
    explicit Core(boost::asio::io_service& service) : ioService(service) {}

    boost::asio::io_service& ioService;
    std::recursive_mutex mutex;
    AvahiPoll api{};
    // One stream_descriptor per file descriptor: epoll takes a descriptor
    // once, and D-Bus watches one socket with a read and a write watch.
    std::map<int, std::shared_ptr<WatchedDescriptor>> descriptors;
    std::map<const AvahiTimeout*, std::shared_ptr<AvahiTimeout>> timeouts;
};

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr short AlwaysReported = POLLERR | POLLHUP;

// The events of `wanted` (plus errors and hang-ups) that the descriptor has
// now, as poll(2) reports them.
short PollNow(int fd, short wanted)
{
    pollfd entry{fd, wanted, 0};
    int result = 0;
    do {
        result = ::poll(&entry, 1, 0);
    } while (result < 0 && errno == EINTR);
    return result > 0 ? entry.revents : 0;
}

}  // namespace

// The watches of one file descriptor and the waits for it on the event loop.
class WatchedDescriptor : public std::enable_shared_from_this<WatchedDescriptor> {
public:
    WatchedDescriptor(AvahiAsioPoll::Core& core, int fd) : _core(core), _fd(fd), _stream(core.ioService) {}

    ~WatchedDescriptor() { Release(); }

    WatchedDescriptor(const WatchedDescriptor&) = delete;
    WatchedDescriptor& operator=(const WatchedDescriptor&) = delete;

    AvahiAsioPoll::Core& GetCore() const { return _core; }
    int GetFd() const { return _fd; }

    bool Open()
    {
        boost::system::error_code error;
        _stream.assign(_fd, error);
        if (error) {
            ORU_LOG_DEBUG("Cannot watch file descriptor " << _fd << ": " << LogEntryFormatter(error));
            return false;
        }
        return true;
    }

    AvahiWatch* Add(AvahiWatchEvent events, AvahiWatchCallback callback, void* userdata)
    {
        _watches.push_back(std::make_shared<AvahiWatch>(*this, events, callback, userdata));
        AvahiWatch* watch = _watches.back().get();
        Arm();
        return watch;
    }

    // True when the descriptor has no watch left.
    bool Remove(AvahiWatch* watch)
    {
        watch->freed = true;
        _watches.erase(std::remove_if(_watches.begin(), _watches.end(),
                                      [watch](const std::shared_ptr<AvahiWatch>& entry) { return entry.get() == watch; }),
                       _watches.end());
        return _watches.empty();
    }

    // Stops every wait and hands the descriptor back to its owner; the
    // waits end as aborted and are dropped.
    void Release()
    {
        if (_released) {
            return;
        }
        _released = true;
        for (const auto& watch : _watches) {
            watch->freed = true;
        }
        _watches.clear();
        boost::system::error_code ignored;
        _stream.cancel(ignored);
        _stream.release();
    }

    // Reports what is ready now, or waits until something is.
    void Arm()
    {
        if (_released || _dispatchQueued || _invalid) {
            return;
        }
        const short wanted = WantedEvents();
        if (_watches.empty()) {
            return;
        }
        if ((PollNow(_fd, wanted) & (wanted | AlwaysReported | POLLNVAL)) != 0) {
            QueueDispatch();
            return;
        }
        // A read wait also ends on errors and hang-ups, which poll reports
        // to every watch.
        if (!_readWaiting) {
            _readWaiting = true;
            Wait(boost::asio::posix::descriptor_base::wait_read, _readWaiting);
        }
        if ((wanted & POLLOUT) != 0 && !_writeWaiting) {
            _writeWaiting = true;
            Wait(boost::asio::posix::descriptor_base::wait_write, _writeWaiting);
        }
        if ((wanted & POLLPRI) != 0 && !_priorityWaiting) {
            _priorityWaiting = true;
            Wait(boost::asio::posix::descriptor_base::wait_error, _priorityWaiting);
        }
    }

private:
    short WantedEvents() const
    {
        short wanted = 0;
        for (const auto& watch : _watches) {
            wanted = static_cast<short>(wanted | (static_cast<short>(watch->events) & (POLLIN | POLLPRI | POLLOUT)));
        }
        return wanted;
    }

    void Wait(boost::asio::posix::descriptor_base::wait_type type, bool& waiting)
    {
        _stream.async_wait(type, [core = _core.shared_from_this(), self = shared_from_this(),
                                  &waiting](const boost::system::error_code& error) {
            Lock lock(core->mutex);
            waiting = false;
            if (self->_released || error == boost::asio::error::operation_aborted || self->_dispatchQueued) {
                return;
            }
            self->Dispatch();
        });
    }

    void QueueDispatch()
    {
        _dispatchQueued = true;
        boost::asio::post(_core.ioService, [core = _core.shared_from_this(), self = shared_from_this()]() {
            Lock lock(core->mutex);
            self->_dispatchQueued = false;
            if (!self->_released) {
                self->Dispatch();
            }
        });
    }

    // Calls every watch that has one of its events (or an error) ready, then
    // waits again. A watch freed by an earlier callback is skipped.
    void Dispatch()
    {
        const short wanted = WantedEvents();
        const short ready = PollNow(_fd, wanted);
        if ((ready & POLLNVAL) != 0) {
            // Closed behind our back: reported once as an error, then no
            // longer watched (poll would report it for ever).
            _invalid = true;
            ORU_LOG_DEBUG("File descriptor " << _fd << " was closed while watched");
        }
        if ((ready & (wanted | AlwaysReported | POLLNVAL)) != 0) {
            const auto watches = _watches;
            for (const auto& watch : watches) {
                if (watch->freed) {
                    continue;
                }
                const short happened = _invalid ? POLLERR : (ready & (watch->events | AlwaysReported));
                if (happened == 0) {
                    continue;
                }
                watch->happened = happened;
                watch->callback(watch.get(), _fd, static_cast<AvahiWatchEvent>(happened), watch->userdata);
                watch->happened = 0;
                if (_released) {
                    return;
                }
            }
        }
        Arm();
    }

    AvahiAsioPoll::Core& _core;
    const int _fd;
    boost::asio::posix::stream_descriptor _stream;
    std::vector<std::shared_ptr<AvahiWatch>> _watches;
    bool _readWaiting = false;
    bool _writeWaiting = false;
    bool _priorityWaiting = false;
    bool _dispatchQueued = false;
    bool _released = false;
    bool _invalid = false;
};

namespace {

AvahiAsioPoll::Core& CoreOf(const AvahiPoll* api) { return *static_cast<AvahiAsioPoll::Core*>(api->userdata); }

AvahiWatch* WatchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata)
{
    auto& core = CoreOf(api);
    Lock lock(core.mutex);
    if (fd < 0 || callback == nullptr) {
        return nullptr;
    }
    auto& descriptor = core.descriptors[fd];
    if (!descriptor) {
        auto opened = std::make_shared<WatchedDescriptor>(core, fd);
        if (!opened->Open()) {
            core.descriptors.erase(fd);
            return nullptr;
        }
        descriptor = opened;
    }
    return descriptor->Add(events, callback, userdata);
}

void WatchUpdate(AvahiWatch* watch, AvahiWatchEvent events)
{
    auto& descriptor = watch->descriptor;
    Lock lock(descriptor.GetCore().mutex);
    watch->events = events;
    descriptor.Arm();
}

AvahiWatchEvent WatchGetEvents(AvahiWatch* watch)
{
    Lock lock(watch->descriptor.GetCore().mutex);
    return static_cast<AvahiWatchEvent>(watch->happened);
}

void WatchFree(AvahiWatch* watch)
{
    auto& core = watch->descriptor.GetCore();
    Lock lock(core.mutex);
    // Kept alive until the end of this function: erasing it from the map
    // may otherwise destroy it while it is in use.
    const auto descriptor = watch->descriptor.shared_from_this();
    if (descriptor->Remove(watch)) {
        descriptor->Release();
        const auto entry = core.descriptors.find(descriptor->GetFd());
        if (entry != core.descriptors.end() && entry->second == descriptor) {
            core.descriptors.erase(entry);
        }
    }
}

AvahiTimeout* TimeoutNew(const AvahiPoll* api, const struct timeval* expiry, AvahiTimeoutCallback callback,
                         void* userdata)
{
    auto& core = CoreOf(api);
    Lock lock(core.mutex);
    if (callback == nullptr) {
        return nullptr;
    }
    auto timeout = std::make_shared<AvahiTimeout>(core, callback, userdata);
    core.timeouts.emplace(timeout.get(), timeout);
    timeout->Set(expiry);
    return timeout.get();
}

void TimeoutUpdate(AvahiTimeout* timeout, const struct timeval* expiry)
{
    Lock lock(timeout->core.mutex);
    timeout->Set(expiry);
}

void TimeoutFree(AvahiTimeout* timeout)
{
    auto& core = timeout->core;
    Lock lock(core.mutex);
    timeout->Free();
    core.timeouts.erase(timeout);  // may destroy it
}

// How long from now until an absolute time of the real-time clock, which
// Avahi's timeouts are given in; zero when it has passed.
std::chrono::microseconds DelayUntil(const struct timeval& expiry)
{
    struct timeval now {};
    ::gettimeofday(&now, nullptr);
    const auto delay = std::chrono::seconds(expiry.tv_sec - now.tv_sec) +
                       std::chrono::microseconds(expiry.tv_usec - now.tv_usec);
    return std::max(std::chrono::microseconds(0), std::chrono::duration_cast<std::chrono::microseconds>(delay));
}

}  // namespace

AvahiAsioPoll::AvahiAsioPoll(boost::asio::io_service& ioService) : _core(std::make_shared<Core>(ioService))
{
    _core->api.userdata = _core.get();
    _core->api.watch_new = &WatchNew;
    _core->api.watch_update = &WatchUpdate;
    _core->api.watch_get_events = &WatchGetEvents;
    _core->api.watch_free = &WatchFree;
    _core->api.timeout_new = &TimeoutNew;
    _core->api.timeout_update = &TimeoutUpdate;
    _core->api.timeout_free = &TimeoutFree;
}

AvahiAsioPoll::~AvahiAsioPoll()
{
    Lock lock(_core->mutex);
    if (!_core->descriptors.empty() || !_core->timeouts.empty()) {
        ORU_LOG_DEBUG("Switching off " << _core->descriptors.size() << " watched descriptors and "
                                       << _core->timeouts.size() << " timeouts left behind");
    }
    for (const auto& entry : _core->descriptors) {
        entry.second->Release();
    }
    _core->descriptors.clear();
    for (const auto& entry : _core->timeouts) {
        entry.second->Free();
    }
    _core->timeouts.clear();
}

const AvahiPoll* AvahiAsioPoll::GetApi() const { return &_core->api; }

boost::asio::io_service& AvahiAsioPoll::GetIoService() const { return _core->ioService; }

std::recursive_mutex& AvahiAsioPoll::GetMutex() const { return _core->mutex; }

}  // namespace Oru

AvahiTimeout::AvahiTimeout(Oru::AvahiAsioPoll::Core& pollCore, AvahiTimeoutCallback timeoutCallback,
                           void* timeoutUserdata)
    : core(pollCore), timer(pollCore.ioService), callback(timeoutCallback), userdata(timeoutUserdata)
{
}

void AvahiTimeout::Set(const struct timeval* expiry)
{
    ++generation;
    boost::system::error_code ignored;
    timer.cancel(ignored);
    if (freed || expiry == nullptr) {
        return;
    }
    timer.expires_after(Oru::DelayUntil(*expiry));
    timer.async_wait([pollCore = core.shared_from_this(), self = shared_from_this(),
                      setting = generation](const boost::system::error_code&) {
        std::lock_guard<std::recursive_mutex> lock(pollCore->mutex);
        if (self->freed || self->generation != setting) {
            return;
        }
        // A timeout that has fired is off until it is set again.
        ++self->generation;
        self->callback(self.get(), self->userdata);
    });
}

void AvahiTimeout::Free()
{
    freed = true;
    ++generation;
    boost::system::error_code ignored;
    timer.cancel(ignored);
}
