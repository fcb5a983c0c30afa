// One TLS connection to the simulated station: handshake, then requests read
// one at a time and answered as the station decides, until either side
// closes or the connection has been idle too long.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include "SimulatedStation.h"

namespace Keldra {
namespace Simulation {

class StationSession : public std::enable_shared_from_this<StationSession> {
public:
    StationSession(boost::asio::ip::tcp::socket&& socket, boost::asio::ssl::context& context, SimulatedStation& station,
                   std::chrono::milliseconds idleTimeout);

    void Run();

private:
    void OnHandshake(boost::system::error_code error);
    void Read();
    void OnRead(boost::system::error_code error, std::size_t bytesTransferred);
    void OnDelay(boost::system::error_code error);
    void CarryOut();
    void OnWrite(bool close, boost::system::error_code error, std::size_t bytesTransferred);
    void Shutdown();
    void OnShutdown(boost::system::error_code error);
    void Cut();
    void WaitForClose();
    void OnWaitForClose(boost::system::error_code error, std::size_t bytesTransferred);

    boost::beast::ssl_stream<boost::beast::tcp_stream> _stream;
    boost::beast::flat_buffer _buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> _parser;
    SimulatedStation& _station;
    std::chrono::milliseconds _idleTimeout;
    boost::asio::steady_timer _delay;
    SimulatedStation::Reaction _reaction;
    bool _keepAlive = false;
    std::array<char, 512> _discarded{};
};

}  // namespace Simulation
}  // namespace Keldra
