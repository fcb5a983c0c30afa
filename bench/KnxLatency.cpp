// keldra-knx-latency URL [COUNT]: the gateway host's own share of a
// telegram's way, against knxd's hop, on a running knxd. Two clients of
// knxd's library stand for the other bus devices: one writes, one listens.
//  - from the bus: the listener and the host get the same telegram from
//    knxd; the host's share is its way to OnValueReceived beyond knxd's hop
//    to the listener (knxd serves the older client, the host, first);
//  - to the bus: the host adds the time Send takes to hand the telegram to
//    knxd; knxd's hop is from there to the listener.
#include <eibclient.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/host/BusConsole.h"
#include "platform/knx/KnxBus.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace Oru;

struct Arrivals {
    std::mutex mutex;
    std::condition_variable changed;
    int listened = 0;
    int delivered = 0;
    Clock::time_point listenedAt;
    Clock::time_point deliveredAt;

    void Await(int listenedCount, int deliveredCount)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return listened >= listenedCount && delivered >= deliveredCount; });
    }
};

void Report(const char* what, std::vector<double> microseconds)
{
    std::sort(microseconds.begin(), microseconds.end());
    std::printf("%-52s median %8.1f us   p99 %8.1f us   (n=%zu)\n", what, microseconds[microseconds.size() / 2],
                microseconds[microseconds.size() * 99 / 100], microseconds.size());
}

double Micro(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

EIBConnection* Client(const char* url, bool writeOnly)
{
    EIBConnection* connection = EIBSocketURL(url);
    if (!connection || EIBOpen_GroupSocket(connection, writeOnly ? 1 : 0) < 0) {
        std::cerr << "cannot connect to knxd at " << url << '\n';
        std::exit(1);
    }
    return connection;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: keldra-knx-latency URL [COUNT]\n";
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    const Knx::GroupAddress input = 0x0802;  // 1/0/2; CO 3 is on 1/1/3
    std::istringstream mapText("2 = 1/0/2 9.001\n3 = 1/1/3 9.001\n");
    auto map = Knx::ParseGroupAddressMap(mapText).map;

    Arrivals arrivals;
    std::ofstream nowhere(getenv("KNX_LATENCY_LOG") ? getenv("KNX_LATENCY_LOG") : "/dev/null");
    BusConsole console(nowhere);  // the host prints every telegram too
    boost::asio::io_service ioService;
    Knx::KnxBus bus(
        ioService, argv[1], std::move(map),
        [&](int co, const BusValue& value) {
            console.PrintReceived(co, value);
            std::lock_guard<std::mutex> lock(arrivals.mutex);
            arrivals.deliveredAt = Clock::now();
            ++arrivals.delivered;
            arrivals.changed.notify_all();
        },
        [&console](const std::string& line) { console.PrintLine(line); });
    bus.Start();

    EIBConnection* writer = Client(argv[1], true);
    EIBConnection* listener = Client(argv[1], false);
    std::thread listening([&] {
        std::uint8_t buffer[64];
        eibaddr_t source = 0, destination = 0;
        while (EIBGetGroup_Src(listener, sizeof buffer, buffer, &source, &destination) >= 0) {
            std::lock_guard<std::mutex> lock(arrivals.mutex);
            arrivals.listenedAt = Clock::now();
            ++arrivals.listened;
            arrivals.changed.notify_all();
        }
    });

    std::vector<double> hopIn, throughHost, hostIn, hostOut, hopOut;
    std::thread driver([&] {
        const std::uint8_t write[] = {0x00, 0x80, 0x0C, 0x29};
        for (int i = 0; i < count; ++i) {
            const auto sent = Clock::now();
            EIBSendGroup(writer, input, sizeof write, write);
            arrivals.Await(i + 1, i + 1);
            std::lock_guard<std::mutex> lock(arrivals.mutex);
            hopIn.push_back(Micro(arrivals.listenedAt - sent));
            throughHost.push_back(Micro(arrivals.deliveredAt - sent));
            hostIn.push_back(Micro(arrivals.deliveredAt - arrivals.listenedAt));
        }
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            bus.Send(3, 21.5f);
            const auto handed = Clock::now();
            arrivals.Await(count + i + 1, count);
            std::lock_guard<std::mutex> lock(arrivals.mutex);
            hostOut.push_back(Micro(handed - start));
            hopOut.push_back(Micro(arrivals.listenedAt - handed));
        }
        ioService.stop();
    });
    ioService.run();
    driver.join();
    ::shutdown(EIB_Poll_FD(listener), SHUT_RDWR);  // ends the listener's blocking read
    listening.join();
    EIBClose(listener);
    EIBClose(writer);

    Report("knxd's hop: writer -> listener", hopIn);
    Report("knxd's hop and host: writer -> OnValueReceived", throughHost);
    Report("host: OnValueReceived - the listener's copy", hostIn);
    Report("host: Send -> handed to knxd", hostOut);
    Report("knxd's hop: host -> listener", hopOut);
    return 0;
}
