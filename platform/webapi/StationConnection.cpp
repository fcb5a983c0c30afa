#include "StationConnection.h"

#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "platform/host/OruLogging.h"
#include "StationKeyFingerprint.h"
#include "support/Assert.h"

namespace Keldra {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Room in the read buffer beyond the answer's header, for body bytes on
// their way into the body.
constexpr std::size_t s_bodyReadSize = 16 * 1024;

// The station ended the connection rather than failing the request.
bool EndedByStation(const boost::system::error_code& error)
{
    return error == boost::asio::error::eof || error == http::error::end_of_stream ||
           error == boost::asio::error::connection_reset || error == boost::asio::error::broken_pipe ||
           error == boost::asio::ssl::error::stream_truncated;
}

}  // namespace

StationConnection::StationConnection(boost::asio::io_service& ioService,
                                     std::shared_ptr<boost::asio::ssl::context> context,
                                     const boost::asio::ip::tcp::endpoint& endpoint, const Limits& limits,
                                     std::shared_ptr<std::size_t> handshakeCounter)
    : _context(std::move(context)),
      _stream(ioService, *_context),
      _endpoint(endpoint),
      _limits(limits),
      _handshakeCounter(std::move(handshakeCounter)),
      _buffer(limits.headerLimit + s_bodyReadSize)
{
}

void StationConnection::Exchange(Request request, std::chrono::steady_clock::time_point deadline, KeyCheck keyCheck,
                                 Completion completion)
{
    ORU_ASSERT2(IsUsable());
    // One deadline for every step of the exchange.
    beast::get_lowest_layer(_stream).expires_at(deadline);
    _request = std::move(request);
    _keyCheck = std::move(keyCheck);
    _completion = std::move(completion);
    _failedWhileStale = false;
    const bool connected = _state == State::Idle;
    _state = State::Busy;
    if (connected) {
        Write();
    } else {
        Connect();
    }
}

void StationConnection::Close()
{
    _completion = nullptr;
    _keyCheck = nullptr;
    _state = State::Closed;
    beast::get_lowest_layer(_stream).close();
}

void StationConnection::Connect()
{
    beast::get_lowest_layer(_stream).async_connect(_endpoint, beast::bind_front_handler(&StationConnection::OnConnect, shared_from_this()));
}

void StationConnection::OnConnect(boost::system::error_code error)
{
    if (error) {
        return Fail(error);
    }
    _stream.async_handshake(boost::asio::ssl::stream_base::client,
                            beast::bind_front_handler(&StationConnection::OnHandshake, shared_from_this()));
}

void StationConnection::OnHandshake(boost::system::error_code error)
{
    if (error) {
        return Fail(error);
    }
    ++*_handshakeCounter;
    _stationKey = StationKeyFingerprint(_stream.native_handle());
    ORU_LOG_DEBUG("TLS connection to " << _endpoint << " established ("
                                       << SSL_get_version(_stream.native_handle()) << ")");
    Write();
}

void StationConnection::Write()
{
    // Also on a kept-alive connection: the trusted key may have changed
    // since its handshake.
    if (const auto refused = _keyCheck(_stationKey)) {
        return Fail(refused);
    }
    http::async_write(_stream, _request, beast::bind_front_handler(&StationConnection::OnWrite, shared_from_this()));
}

void StationConnection::OnWrite(boost::system::error_code error, std::size_t /*bytesTransferred*/)
{
    if (error) {
        return Fail(error);
    }
    _parser.emplace();
    _parser->header_limit(static_cast<std::uint32_t>(_limits.headerLimit));
    _parser->body_limit(_limits.bodyLimit);
    // The header alone first: when the header and the start of the body
    // arrive together, an eager read of the whole answer loses the parser's
    // verdict on a Content-Length above the body limit and reads on, however
    // long the body claims to be.
    http::async_read_header(_stream, _buffer, *_parser,
                            beast::bind_front_handler(&StationConnection::OnReadHeader, shared_from_this()));
}

void StationConnection::OnReadHeader(boost::system::error_code error, std::size_t /*bytesTransferred*/)
{
    if (error) {
        return Fail(error);
    }
    if (_parser->is_done()) {
        return OnRead(error, 0);
    }
    http::async_read(_stream, _buffer, *_parser,
                     beast::bind_front_handler(&StationConnection::OnRead, shared_from_this()));
}

void StationConnection::OnRead(boost::system::error_code error, std::size_t /*bytesTransferred*/)
{
    if (error) {
        return Fail(error);
    }
    ++_answeredCount;
    // Bytes beyond the answer were never asked for: they must not be taken
    // for the next answer.
    const bool keepAlive = _parser->keep_alive() && !_parser->need_eof() && _buffer.size() == 0;
    auto response = _parser->release();
    _parser.reset();
    if (keepAlive) {
        _state = State::Idle;
        beast::get_lowest_layer(_stream).expires_never();
    } else {
        _state = State::Closed;
        beast::get_lowest_layer(_stream).close();
    }
    Complete(boost::system::error_code(), std::move(response));
}

void StationConnection::Fail(const boost::system::error_code& error)
{
    _failedWhileStale = EndedByStation(error) && _answeredCount > 0 && !(_parser && _parser->got_some());
    _state = State::Closed;
    beast::get_lowest_layer(_stream).close();
    Complete(error, Response());
}

void StationConnection::Complete(const boost::system::error_code& error, Response response)
{
    if (!_completion) {
        return;
    }
    auto completion = std::move(_completion);
    _completion = nullptr;
    _keyCheck = nullptr;
    completion(error, std::move(response));
}

}  // namespace Keldra
