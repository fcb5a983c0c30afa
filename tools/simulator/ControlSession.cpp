#include "ControlSession.h"

#include <chrono>
#include <utility>

#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

namespace Keldra {
namespace Simulation {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::chrono::seconds s_idleTimeout(60);
constexpr std::chrono::seconds s_writeTimeout(10);
constexpr std::uint32_t s_headerLimit = 8 * 1024;
constexpr std::uint64_t s_bodyLimit = 1024 * 1024;

}  // namespace

ControlSession::ControlSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<const ControlApi> api)
    : _stream(std::move(socket)), _api(std::move(api))
{
}

void ControlSession::Run()
{
    Read();
}

void ControlSession::Read()
{
    _parser.emplace();
    _parser->header_limit(s_headerLimit);
    _parser->body_limit(s_bodyLimit);
    _stream.expires_after(s_idleTimeout);
    http::async_read(_stream, _buffer, *_parser,
                     beast::bind_front_handler(&ControlSession::OnRead, shared_from_this()));
}

void ControlSession::OnRead(boost::system::error_code error, std::size_t)
{
    bool close = false;
    if (error && error.category() == http::make_error_code(http::error::bad_target).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message) {
        _response = SimulatedStation::Response(http::status::bad_request, 11);
        _response.set(http::field::content_type, "application/json");
        _response.body() = "{\"error\":\"bad request\"}\n";
        close = true;
    } else if (error) {
        Close();
        return;
    } else {
        const SimulatedStation::Request request = _parser->release();
        _response = _api->Handle(request);
        close = !request.keep_alive();
    }
    _response.keep_alive(!close);
    _response.prepare_payload();
    _stream.expires_after(s_writeTimeout);
    http::async_write(_stream, _response,
                      beast::bind_front_handler(&ControlSession::OnWrite, shared_from_this(), close));
}

void ControlSession::OnWrite(bool close, boost::system::error_code error, std::size_t)
{
    if (error || close) {
        Close();
        return;
    }
    Read();
}

void ControlSession::Close()
{
    boost::system::error_code ignored;
    _stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
    _stream.socket().close(ignored);
}

}  // namespace Simulation
}  // namespace Keldra
