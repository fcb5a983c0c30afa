#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <vector>

#include <boost/asio/io_service.hpp>

#include "mdns/AvahiAsioPoll.h"

using Oru::AvahiAsioPoll;

namespace {

// Both ends of a connected stream socket pair, closed at the end of a test.
struct SocketPair {
    SocketPair()
    {
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds.data()));
    }
    ~SocketPair()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int Watched() const { return fds[0]; }
    int Other() const { return fds[1]; }
    void SendByte() const { ASSERT_EQ(1, ::write(Other(), "x", 1)); }

    std::array<int, 2> fds{{-1, -1}};
};

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// What a watch saw: one entry per callback.
struct WatchRecord {
    std::vector<int> events;
    std::vector<int> eventsFromGetter;
    const AvahiPoll* api = nullptr;
    // Run inside the callback, after recording.
    std::function<void(AvahiWatch*, int fd)> onCall;
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
    std::function<void(AvahiTimeout*)> onCall;
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
struct timeval FromNow(std::chrono::milliseconds delay)
{
    struct timeval now {};
    ::gettimeofday(&now, nullptr);
    const long long microseconds = now.tv_usec + std::chrono::microseconds(delay).count();
    now.tv_sec += static_cast<time_t>(microseconds / 1000000);
    now.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    return now;
}

void ReadByte(int fd)
{
    char byte = 0;
    ASSERT_EQ(1, ::read(fd, &byte, 1));
}

class AvahiAsioPollTest : public ::testing::Test {
protected:
    // Runs every handler that is ready, as often as they become ready.
    void RunReady()
    {
        _ioService.restart();
        _ioService.poll();
    }

    // Runs until the condition holds; false after five seconds without.
    bool RunUntil(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            _ioService.restart();
            _ioService.run_one_for(std::chrono::milliseconds(50));
        }
        return condition();
    }

    boost::asio::io_service _ioService;
    AvahiAsioPoll _poll{_ioService};
    const AvahiPoll* _api = _poll.GetApi();
};

TEST_F(AvahiAsioPollTest, WatchFiresWhenTheDescriptorBecomesReadable)
{
    SocketPair sockets;
    WatchRecord record;
    record.api = _api;
    record.onCall = [](AvahiWatch*, int fd) { ReadByte(fd); };
    AvahiWatch* watch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);
    ASSERT_NE(nullptr, watch);

    RunReady();
    EXPECT_TRUE(record.events.empty()) << "nothing to read yet";

    sockets.SendByte();
    ASSERT_TRUE(RunUntil([&] { return !record.events.empty(); }));
    EXPECT_EQ(std::vector<int>{AVAHI_WATCH_IN}, record.events);
    EXPECT_EQ(std::vector<int>{AVAHI_WATCH_IN}, record.eventsFromGetter);
    EXPECT_EQ(0, _api->watch_get_events(watch)) << "outside of the callback nothing is being reported";

    RunReady();
    EXPECT_EQ(1u, record.events.size()) << "drained, so not called again";

    _api->watch_free(watch);
    EXPECT_TRUE(IsOpen(sockets.Watched())) << "the watch never closes the descriptor";
}

TEST_F(AvahiAsioPollTest, WatchIsCalledAgainWhileDataRemains)
{
    // D-Bus reads a limited amount per call: the rest must not be left
    // waiting for the next packet.
    SocketPair sockets;
    WatchRecord record;
    record.api = _api;
    record.onCall = [](AvahiWatch*, int fd) { ReadByte(fd); };
    AvahiWatch* watch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);

    sockets.SendByte();
    sockets.SendByte();
    sockets.SendByte();
    ASSERT_TRUE(RunUntil([&] { return record.events.size() == 3; }));
    RunReady();
    EXPECT_EQ(3u, record.events.size());
    _api->watch_free(watch);
}

TEST_F(AvahiAsioPollTest, WatchUpdateChangesTheEventsWaitedFor)
{
    SocketPair sockets;
    WatchRecord record;
    record.api = _api;
    AvahiWatch* watch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);

    RunReady();
    EXPECT_TRUE(record.events.empty()) << "writable, but only reading is watched";

    // Writable at once: reported until the watch stops asking for it.
    record.onCall = [this](AvahiWatch* calledWatch, int) { _api->watch_update(calledWatch, AVAHI_WATCH_IN); };
    _api->watch_update(watch, AVAHI_WATCH_OUT);
    ASSERT_TRUE(RunUntil([&] { return !record.events.empty(); }));
    EXPECT_EQ(std::vector<int>{AVAHI_WATCH_OUT}, record.events);
    EXPECT_EQ(std::vector<int>{AVAHI_WATCH_OUT}, record.eventsFromGetter);

    record.onCall = [](AvahiWatch*, int fd) { ReadByte(fd); };
    sockets.SendByte();
    ASSERT_TRUE(RunUntil([&] { return record.events.size() == 2; }));
    EXPECT_EQ((std::vector<int>{AVAHI_WATCH_OUT, AVAHI_WATCH_IN}), record.events);

    _api->watch_free(watch);
}

TEST_F(AvahiAsioPollTest, WatchReportsHangUpEvenWhenOnlyReadingIsWatched)
{
    SocketPair sockets;
    WatchRecord record;
    record.api = _api;
    AvahiWatch* watch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);
    record.onCall = [this](AvahiWatch* calledWatch, int) { _api->watch_free(calledWatch); };

    ::shutdown(sockets.Other(), SHUT_RDWR);
    ASSERT_TRUE(RunUntil([&] { return !record.events.empty(); }));
    EXPECT_NE(0, record.events.front() & AVAHI_WATCH_HUP);
    (void)watch;
}

TEST_F(AvahiAsioPollTest, ReadAndWriteWatchesOnOneDescriptorWorkSideBySide)
{
    // D-Bus watches its socket with two watches, one for each direction.
    SocketPair sockets;
    WatchRecord reading;
    reading.api = _api;
    reading.onCall = [](AvahiWatch*, int fd) { ReadByte(fd); };
    WatchRecord writing;
    writing.api = _api;
    writing.onCall = [this](AvahiWatch* watch, int) { _api->watch_free(watch); };

    AvahiWatch* readWatch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &reading);
    AvahiWatch* writeWatch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_OUT, &RecordWatch, &writing);
    ASSERT_NE(nullptr, readWatch);
    ASSERT_NE(nullptr, writeWatch);

    ASSERT_TRUE(RunUntil([&] { return writing.events.size() == 1; }));
    EXPECT_TRUE(reading.events.empty());

    sockets.SendByte();
    ASSERT_TRUE(RunUntil([&] { return reading.events.size() == 1; }));
    EXPECT_EQ(std::vector<int>{AVAHI_WATCH_IN}, reading.events);
    EXPECT_EQ(1u, writing.events.size()) << "the freed write watch stays silent";

    _api->watch_free(readWatch);
    EXPECT_TRUE(IsOpen(sockets.Watched()));
}

TEST_F(AvahiAsioPollTest, WatchFreedWhileWaitingIsNeverCalled)
{
    SocketPair sockets;
    WatchRecord record;
    record.api = _api;
    AvahiWatch* watch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);
    RunReady();  // the wait is pending now

    _api->watch_free(watch);
    sockets.SendByte();
    RunReady();
    EXPECT_TRUE(record.events.empty());
    EXPECT_TRUE(IsOpen(sockets.Watched()));

    // The descriptor can be watched again afterwards.
    record.onCall = [](AvahiWatch*, int fd) { ReadByte(fd); };
    AvahiWatch* again = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);
    ASSERT_NE(nullptr, again);
    ASSERT_TRUE(RunUntil([&] { return record.events.size() == 1; }));
    _api->watch_free(again);
}

TEST_F(AvahiAsioPollTest, WatchFreedAfterItsWaitCompletedIsNotCalled)
{
    SocketPair sockets;
    WatchRecord first;
    first.api = _api;
    WatchRecord second;
    second.api = _api;
    AvahiWatch* secondWatch = nullptr;
    // The first watch frees the second while the second's readiness is
    // already being reported.
    first.onCall = [&](AvahiWatch*, int) {
        if (secondWatch != nullptr) {
            _api->watch_free(secondWatch);
            secondWatch = nullptr;
        }
    };
    AvahiWatch* firstWatch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &first);
    secondWatch = _api->watch_new(_api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &second);

    sockets.SendByte();
    ASSERT_TRUE(RunUntil([&] { return !first.events.empty(); }));
    EXPECT_TRUE(second.events.empty());
    ReadByte(sockets.Watched());
    _api->watch_free(firstWatch);
    RunReady();
}

TEST_F(AvahiAsioPollTest, TimeoutFiresOnceAtItsTime)
{
    TimeoutRecord record;
    const struct timeval due = FromNow(std::chrono::milliseconds(0));
    AvahiTimeout* timeout = _api->timeout_new(_api, &due, &RecordTimeout, &record);
    ASSERT_NE(nullptr, timeout);

    ASSERT_TRUE(RunUntil([&] { return record.calls == 1; }));
    RunReady();
    EXPECT_EQ(1, record.calls) << "a fired timeout is off until it is set again";

    const struct timeval later = FromNow(std::chrono::milliseconds(20));
    _api->timeout_update(timeout, &later);
    ASSERT_TRUE(RunUntil([&] { return record.calls == 2; }));
    _api->timeout_free(timeout);
}

TEST_F(AvahiAsioPollTest, TimeoutWithoutTimeOrSwitchedOffDoesNotFire)
{
    TimeoutRecord off;
    AvahiTimeout* never = _api->timeout_new(_api, nullptr, &RecordTimeout, &off);
    TimeoutRecord switchedOff;
    const struct timeval due = FromNow(std::chrono::milliseconds(0));
    AvahiTimeout* disabled = _api->timeout_new(_api, &due, &RecordTimeout, &switchedOff);
    _api->timeout_update(disabled, nullptr);
    TimeoutRecord marker;
    AvahiTimeout* later = _api->timeout_new(_api, &due, &RecordTimeout, &marker);

    ASSERT_TRUE(RunUntil([&] { return marker.calls == 1; }));
    RunReady();
    EXPECT_EQ(0, off.calls);
    EXPECT_EQ(0, switchedOff.calls);

    _api->timeout_free(never);
    _api->timeout_free(disabled);
    _api->timeout_free(later);
}

TEST_F(AvahiAsioPollTest, TimeoutUpdateMovesAPendingTimeout)
{
    TimeoutRecord moved;
    const struct timeval hourAway = FromNow(std::chrono::hours(1));
    AvahiTimeout* timeout = _api->timeout_new(_api, &hourAway, &RecordTimeout, &moved);
    RunReady();
    EXPECT_EQ(0, moved.calls);

    const struct timeval due = FromNow(std::chrono::milliseconds(0));
    _api->timeout_update(timeout, &due);
    ASSERT_TRUE(RunUntil([&] { return moved.calls == 1; }));
    _api->timeout_free(timeout);
}

TEST_F(AvahiAsioPollTest, TimeoutFreedWhilePendingOrFromItsCallbackIsSafe)
{
    TimeoutRecord freedWhilePending;
    const struct timeval due = FromNow(std::chrono::milliseconds(0));
    AvahiTimeout* pending = _api->timeout_new(_api, &due, &RecordTimeout, &freedWhilePending);
    _api->timeout_free(pending);

    TimeoutRecord selfFreeing;
    selfFreeing.onCall = [this](AvahiTimeout* timeout) { _api->timeout_free(timeout); };
    _api->timeout_new(_api, &due, &RecordTimeout, &selfFreeing);

    TimeoutRecord rearming;
    rearming.onCall = [this, &rearming](AvahiTimeout* timeout) {
        if (rearming.calls < 3) {
            const struct timeval again = FromNow(std::chrono::milliseconds(0));
            _api->timeout_update(timeout, &again);
        } else {
            _api->timeout_free(timeout);
        }
    };
    _api->timeout_new(_api, &due, &RecordTimeout, &rearming);

    ASSERT_TRUE(RunUntil([&] { return selfFreeing.calls == 1 && rearming.calls == 3; }));
    RunReady();
    EXPECT_EQ(0, freedWhilePending.calls);
    EXPECT_EQ(1, selfFreeing.calls);
    EXPECT_EQ(3, rearming.calls);
}

TEST(AvahiAsioPollLifetime, DestroyingThePollSwitchesOffWhatIsLeftWithoutClosingIt)
{
    boost::asio::io_service ioService;
    SocketPair sockets;
    WatchRecord record;
    TimeoutRecord timeoutRecord;
    {
        AvahiAsioPoll poll(ioService);
        const AvahiPoll* api = poll.GetApi();
        record.api = api;
        api->watch_new(api, sockets.Watched(), AVAHI_WATCH_IN, &RecordWatch, &record);
        const struct timeval due = FromNow(std::chrono::milliseconds(0));
        api->timeout_new(api, &due, &RecordTimeout, &timeoutRecord);
        // Both waits are pending, the timer's already due.
    }
    sockets.SendByte();
    ioService.restart();
    ioService.poll();
    EXPECT_TRUE(record.events.empty());
    EXPECT_EQ(0, timeoutRecord.calls);
    EXPECT_TRUE(IsOpen(sockets.Watched()));
}

TEST(AvahiAsioPollLifetime, InvalidDescriptorIsRefused)
{
    boost::asio::io_service ioService;
    AvahiAsioPoll poll(ioService);
    const AvahiPoll* api = poll.GetApi();
    WatchRecord record;
    record.api = api;
    EXPECT_EQ(nullptr, api->watch_new(api, -1, AVAHI_WATCH_IN, &RecordWatch, &record));
    const int closed = 1000;
    ASSERT_FALSE(IsOpen(closed));
    EXPECT_EQ(nullptr, api->watch_new(api, closed, AVAHI_WATCH_IN, &RecordWatch, &record));
}

}  // namespace
