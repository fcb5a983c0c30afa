#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include <boost/asio/io_service.hpp>

#include <avahi-common/timeval.h>

#include "platform/mdns/AvahiAsioPoll.h"
#include "tests/testing/EventLoop.h"

using Oru::AvahiAsioPoll;

namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

void ReadByte(int fd)
{
    char byte = 0;
    ASSERT_EQ(1, ::read(fd, &byte, 1));
}

// What a watch saw: one entry per callback, the events given and those the
// getter reports inside the callback; onCall runs after recording.
struct WatchRecord {
    const AvahiPoll* api;
    std::vector<int> events = {};
    std::vector<int> eventsFromGetter = {};
    std::function<void(AvahiWatch*, int fd)> onCall = {};
};

void RecordWatch(AvahiWatch* watch, int fd, AvahiWatchEvent events, void* userdata)
{
    auto& record = *static_cast<WatchRecord*>(userdata);
    record.events.push_back(events);
    record.eventsFromGetter.push_back(record.api->watch_get_events(watch));
    if (record.onCall) {
        record.onCall(watch, fd);
    }
}

struct TimeoutRecord {
    int calls = 0;
    std::function<void(AvahiTimeout*)> onCall = {};
};

void RecordTimeout(AvahiTimeout* timeout, void* userdata)
{
    auto& record = *static_cast<TimeoutRecord*>(userdata);
    ++record.calls;
    if (record.onCall) {
        record.onCall(timeout);
    }
}

// Avahi gives timeouts as absolute times of the real-time clock.
struct timeval FromNow(unsigned milliseconds)
{
    struct timeval time {};
    return *avahi_elapse_time(&time, milliseconds, 0);
}

// The poll on an event loop run by the test, and a connected socket pair
// whose first end is watched.
class AvahiAsioPollTest : public ::testing::Test {
protected:
    AvahiAsioPollTest() { EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, _fds)); }
    ~AvahiAsioPollTest() override
    {
        _poll.reset();
        ::close(_fds[0]);
        ::close(_fds[1]);
    }
    void SendByte() { ASSERT_EQ(1, ::write(_fds[1], "x", 1)); }
    AvahiWatch* Watch(int fd, AvahiWatchEvent events, WatchRecord& record)
    {
        return _api->watch_new(_api, fd, events, &RecordWatch, &record);
    }
    AvahiTimeout* Timeout(const struct timeval* due, TimeoutRecord& record)
    {
        return _api->timeout_new(_api, due, &RecordTimeout, &record);
    }

    void RunReady() { Oru::Testing::RunReady(_ioService); }
    bool RunUntil(const std::function<bool()>& condition) { return Oru::Testing::RunUntil(_ioService, condition); }

    boost::asio::io_service _ioService;
    std::optional<AvahiAsioPoll> _poll{std::in_place, _ioService};
    const AvahiPoll* _api = _poll->GetApi();
    int _fds[2] = {-1, -1};
    const struct timeval _now = FromNow(0);
};

TEST_F(AvahiAsioPollTest, AWatchIsCalledWhileWhatItAsksForIsReadyAndHangUpsAlwaysCount)
{
    WatchRecord record{_api};
    record.onCall = [](AvahiWatch*, int fd) { ReadByte(fd); };
    AvahiWatch* watch = Watch(_fds[0], AVAHI_WATCH_IN, record);
    ASSERT_NE(nullptr, watch);
    RunReady();
    EXPECT_TRUE(record.events.empty()) << "nothing to read yet; writable, but only reading is watched";

    SendByte();
    ASSERT_TRUE(RunUntil([&] { return !record.events.empty(); }));
    EXPECT_EQ(0, _api->watch_get_events(watch)) << "outside of the callback nothing is being reported";
    RunReady();
    EXPECT_EQ(1u, record.events.size()) << "drained, so not called again";

    // D-Bus reads a limited amount per call: the rest must not wait for the next packet.
    SendByte();
    SendByte();
    SendByte();
    ASSERT_TRUE(RunUntil([&] { return record.events.size() == 4; }));
    RunReady();
    EXPECT_EQ(std::vector<int>(4, AVAHI_WATCH_IN), record.events);

    // Writable at once: reported until the watch stops asking for it.
    record.onCall = [this](AvahiWatch* calledWatch, int) { _api->watch_update(calledWatch, AVAHI_WATCH_IN); };
    _api->watch_update(watch, AVAHI_WATCH_OUT);
    ASSERT_TRUE(RunUntil([&] { return record.events.size() == 5; }));
    RunReady();
    EXPECT_EQ(5u, record.events.size());
    EXPECT_EQ(AVAHI_WATCH_OUT, record.events.back());
    EXPECT_EQ(AVAHI_WATCH_OUT, record.eventsFromGetter.back());

    // A hang-up is reported even when only reading is watched.
    record.onCall = [this](AvahiWatch* calledWatch, int) { _api->watch_free(calledWatch); };
    ::shutdown(_fds[1], SHUT_RDWR);
    ASSERT_TRUE(RunUntil([&] { return record.events.size() == 6; }));
    EXPECT_NE(0, record.events.back() & AVAHI_WATCH_HUP);
    EXPECT_TRUE(IsOpen(_fds[0])) << "the watch never closes the descriptor";
}

// D-Bus watches its socket with two watches, one for each direction, and
// frees watches while others are being reported.
TEST_F(AvahiAsioPollTest, WatchesOnOneDescriptorWorkSideBySideAndFreedOnesAreNeverCalled)
{
    WatchRecord freed{_api};
    AvahiWatch* freedWatch = Watch(_fds[0], AVAHI_WATCH_IN, freed);
    RunReady();  // the wait is pending now
    _api->watch_free(freedWatch);

    WatchRecord writing{_api};
    writing.onCall = [this](AvahiWatch* watch, int) { _api->watch_free(watch); };
    ASSERT_NE(nullptr, Watch(_fds[0], AVAHI_WATCH_OUT, writing));
    // The reading watch frees the second one while the second's readiness is
    // already being reported.
    WatchRecord reading{_api};
    WatchRecord second{_api};
    AvahiWatch* secondWatch = nullptr;
    reading.onCall = [&](AvahiWatch*, int fd) {
        ReadByte(fd);
        if (secondWatch != nullptr) {
            _api->watch_free(secondWatch);
            secondWatch = nullptr;
        }
    };
    Watch(_fds[0], AVAHI_WATCH_IN, reading);
    secondWatch = Watch(_fds[0], AVAHI_WATCH_IN, second);
    ASSERT_TRUE(RunUntil([&] { return writing.events.size() == 1; }));
    EXPECT_TRUE(reading.events.empty());
    SendByte();
    ASSERT_TRUE(RunUntil([&] { return !reading.events.empty(); }));
    RunReady();
    EXPECT_EQ(std::vector<int>{AVAHI_WATCH_IN}, reading.events) << "the descriptor can be watched again after a free";
    EXPECT_EQ(1u, writing.events.size()) << "the freed write watch stays silent";
    EXPECT_TRUE(freed.events.empty());
    EXPECT_TRUE(second.events.empty());
}

TEST_F(AvahiAsioPollTest, TimeoutsFireOnceAtTheirTimeAndAreSafeToSwitchOffOrFree)
{
    TimeoutRecord moved;
    const struct timeval hourAway = FromNow(3600 * 1000);
    AvahiTimeout* movedTimeout = Timeout(&hourAway, moved);
    RunReady();
    EXPECT_EQ(0, moved.calls);
    _api->timeout_update(movedTimeout, &_now);
    TimeoutRecord off;
    Timeout(nullptr, off);
    TimeoutRecord switchedOff;
    AvahiTimeout* disabled = Timeout(&_now, switchedOff);
    _api->timeout_update(disabled, nullptr);
    TimeoutRecord freedWhilePending;
    _api->timeout_free(Timeout(&_now, freedWhilePending));
    TimeoutRecord selfFreeing;
    selfFreeing.onCall = [this](AvahiTimeout* timeout) { _api->timeout_free(timeout); };
    Timeout(&_now, selfFreeing);
    TimeoutRecord rearming;
    rearming.onCall = [this, &rearming](AvahiTimeout* timeout) {
        if (rearming.calls < 3) {
            _api->timeout_update(timeout, &_now);
        } else {
            _api->timeout_free(timeout);
        }
    };
    Timeout(&_now, rearming);

    ASSERT_TRUE(RunUntil([&] { return moved.calls == 1 && selfFreeing.calls == 1 && rearming.calls == 3; }));
    RunReady();
    EXPECT_EQ(1, moved.calls) << "a fired timeout is off until it is set again";
    EXPECT_EQ(0, off.calls + switchedOff.calls + freedWhilePending.calls);
    EXPECT_EQ(1, selfFreeing.calls);
    EXPECT_EQ(3, rearming.calls);
}

TEST_F(AvahiAsioPollTest, InvalidDescriptorsAreRefusedAndDestroyingThePollSwitchesOffWhatIsLeft)
{
    WatchRecord record{_api};
    EXPECT_EQ(nullptr, Watch(-1, AVAHI_WATCH_IN, record));
    ASSERT_FALSE(IsOpen(1000));
    EXPECT_EQ(nullptr, Watch(1000, AVAHI_WATCH_IN, record));

    TimeoutRecord timeoutRecord;
    Watch(_fds[0], AVAHI_WATCH_IN, record);
    Timeout(&_now, timeoutRecord);  // both waits are pending, the timer's already due
    _poll.reset();
    SendByte();
    RunReady();
    EXPECT_TRUE(record.events.empty());
    EXPECT_EQ(0, timeoutRecord.calls);
    EXPECT_TRUE(IsOpen(_fds[0])) << "the poll closes no descriptor";
}

}  // namespace
