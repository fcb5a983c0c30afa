#include "StationSession.h"

#include <utility>

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

namespace Keldra {
namespace Simulation {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::chrono::seconds s_handshakeTimeout(10);
constexpr std::chrono::seconds s_writeTimeout(10);
constexpr std::chrono::seconds s_shutdownTimeout(5);
constexpr std::uint32_t s_headerLimit = 8 * 1024;
constexpr std::uint64_t s_bodyLimit = 64 * 1024;

}  // namespace

StationSession::StationSession(boost::asio::ip::tcp::socket&& socket, boost::asio::ssl::context& context,
                               SimulatedStation& station, std::chrono::milliseconds idleTimeout)
    : _stream(std::move(socket), context), _station(station), _idleTimeout(idleTimeout), _delay(_stream.get_executor())
{
}

void StationSession::Run()
{
    beast::get_lowest_layer(_stream).expires_after(s_handshakeTimeout);
    _stream.async_handshake(boost::asio::ssl::stream_base::server,
                            beast::bind_front_handler(&StationSession::OnHandshake, shared_from_this()));
}

void StationSession::OnHandshake(boost::system::error_code error)
{
    if (error) {
        return;
    }
    _station.OnHandshake();
    Read();
}

void StationSession::Read()
{
    _parser.emplace();
    _parser->header_limit(s_headerLimit);
    _parser->body_limit(s_bodyLimit);
    beast::get_lowest_layer(_stream).expires_after(_idleTimeout);
    http::async_read(_stream, _buffer, *_parser,
                     beast::bind_front_handler(&StationSession::OnRead, shared_from_this()));
}

void StationSession::OnRead(boost::system::error_code error, std::size_t)
{
    if (error == http::error::end_of_stream) {
        Shutdown();
        return;
    }
    if (error && error.category() == http::make_error_code(http::error::bad_target).category() &&
        error != http::error::partial_message) {
        // Not HTTP, or beyond the limits: say so once and close.
        SimulatedStation::Response response(http::status::bad_request, 11);
        response.set(http::field::content_type, "text/plain");
        response.body() = "bad request: " + error.message() + "\n";
        response.prepare_payload();
        _reaction = SimulatedStation::Reaction{};
        _reaction.response = std::move(response);
        _keepAlive = false;
        CarryOut();
        return;
    }
    if (error) {
        return;
    }
    const SimulatedStation::Request request = _parser->release();
    _keepAlive = request.keep_alive();
    _reaction = _station.Handle(request);
    if (_reaction.delay.count() > 0) {
        _delay.expires_after(_reaction.delay);
        _delay.async_wait(beast::bind_front_handler(&StationSession::OnDelay, shared_from_this()));
        return;
    }
    CarryOut();
}

void StationSession::OnDelay(boost::system::error_code error)
{
    if (!error) {
        CarryOut();
    }
}

void StationSession::CarryOut()
{
    switch (_reaction.kind) {
    case SimulatedStation::Reaction::Kind::Answer:
        _reaction.response.keep_alive(_keepAlive);
        beast::get_lowest_layer(_stream).expires_after(s_writeTimeout);
        http::async_write(_stream, _reaction.response,
                          beast::bind_front_handler(&StationSession::OnWrite, shared_from_this(), !_keepAlive));
        return;
    case SimulatedStation::Reaction::Kind::TruncatedAnswer:
        beast::get_lowest_layer(_stream).expires_after(s_writeTimeout);
        boost::asio::async_write(_stream, boost::asio::buffer(_reaction.rawAnswer),
                                 beast::bind_front_handler(&StationSession::OnWrite, shared_from_this(), true));
        return;
    case SimulatedStation::Reaction::Kind::Close:
        Shutdown();
        return;
    case SimulatedStation::Reaction::Kind::CutTls:
        Cut();
        return;
    case SimulatedStation::Reaction::Kind::NoAnswer:
        WaitForClose();
        return;
    }
}

void StationSession::OnWrite(bool close, boost::system::error_code error, std::size_t)
{
    if (error) {
        return;
    }
    if (close) {
        Shutdown();
        return;
    }
    Read();
}

void StationSession::Shutdown()
{
    beast::get_lowest_layer(_stream).expires_after(s_shutdownTimeout);
    _stream.async_shutdown(beast::bind_front_handler(&StationSession::OnShutdown, shared_from_this()));
}

void StationSession::OnShutdown(boost::system::error_code)
{
    Cut();
}

void StationSession::Cut()
{
    boost::system::error_code ignored;
    auto& socket = beast::get_lowest_layer(_stream).socket();
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

void StationSession::WaitForClose()
{
    beast::get_lowest_layer(_stream).expires_never();
    _stream.async_read_some(boost::asio::buffer(_discarded),
                            beast::bind_front_handler(&StationSession::OnWaitForClose, shared_from_this()));
}

void StationSession::OnWaitForClose(boost::system::error_code error, std::size_t)
{
    if (error) {
        Cut();
        return;
    }
    WaitForClose();
}

}  // namespace Simulation
}  // namespace Keldra
