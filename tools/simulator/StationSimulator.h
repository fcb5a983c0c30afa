// The base station simulator as a library: a simulated station served over
// HTTPS with a self-signed certificate, its control interface over plain
// HTTP, and optionally its mDNS announcement, all on one thread of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include "SimulatedStation.h"
#include "StationState.h"

namespace Keldra {
namespace Simulation {

class ControlApi;
class MDnsAnnouncer;
class TcpListener;

class StationSimulator {
public:
    struct Options {
        std::string address = "0.0.0.0";
        std::uint16_t port = 443;  // 0: an ephemeral port
        std::string controlAddress = "127.0.0.1";
        std::uint16_t controlPort = 0;
        bool announce = false;
        std::chrono::milliseconds idleTimeout{60000};  // idle station connections are closed after this
        std::string keyFile;                            // the station's key kept across starts; empty: a new one
        // Receives the simulator's messages, from any of its threads, one
        // call at a time: first "listening on ADDRESS:PORT" and "control on
        // ADDRESS:PORT" once both ports listen, later the mDNS state.
        std::function<void(const std::string&)> log;
    };

    StationSimulator(StationState state, Options options);
    ~StationSimulator();
    StationSimulator(const StationSimulator&) = delete;
    StationSimulator& operator=(const StationSimulator&) = delete;

    // Listens on both endpoints and starts serving; returns what failed,
    // empty on success. Starts at most once.
    std::string Start();
    // Stops serving and closes every connection. Also done on destruction.
    void Stop();

    boost::asio::ip::tcp::endpoint StationEndpoint() const { return _stationEndpoint; }
    boost::asio::ip::tcp::endpoint ControlEndpoint() const { return _controlEndpoint; }
    SimulatedStation& Station() { return _station; }
    // The announcement was confirmed by an avahi-daemon.
    bool IsAnnounced() const;

private:
    std::string Listen();
    void Log(const std::string& message);

    Options _options;
    SimulatedStation _station;
    boost::asio::ssl::context _sslContext;
    std::unique_ptr<boost::asio::io_context> _ioContext;
    std::shared_ptr<TcpListener> _stationListener;
    std::shared_ptr<TcpListener> _controlListener;
    std::shared_ptr<const ControlApi> _controlApi;
    std::unique_ptr<MDnsAnnouncer> _announcer;
    boost::asio::ip::tcp::endpoint _stationEndpoint;
    boost::asio::ip::tcp::endpoint _controlEndpoint;
    std::thread _thread;
    bool _started = false;
    std::mutex _logMutex;
};

}  // namespace Simulation
}  // namespace Keldra
