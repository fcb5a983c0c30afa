// One TLS connection to a base station: connects to its endpoint, shakes
// hands, then carries one HTTP request and its answer at a time for as long
// as the station keeps the connection alive. A connection that failed is
// not used again.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/optional.hpp>

namespace Keldra {

class StationConnection : public std::enable_shared_from_this<StationConnection> {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using Response = boost::beast::http::response<boost::beast::http::string_body>;
    // The raw transport error (empty on success) and the answer.
    using Completion = std::function<void(const boost::system::error_code&, Response)>;
    // Asked before any byte of a request is written, with the fingerprint of
    // the key the station presented in this connection's handshake; an error
    // closes the connection and fails the exchange with it.
    using KeyCheck = std::function<boost::system::error_code(const std::string& fingerprint)>;

    struct Limits {
        std::size_t headerLimit;  // bytes of the answer's status line and fields
        std::size_t bodyLimit;    // bytes of the answer's body
    };

    // Each completed TLS handshake adds one to handshakeCounter.
    StationConnection(boost::asio::io_service& ioService, std::shared_ptr<boost::asio::ssl::context> context,
                      const boost::asio::ip::tcp::endpoint& endpoint, const Limits& limits,
                      std::shared_ptr<std::size_t> handshakeCounter);
    StationConnection(const StationConnection&) = delete;
    StationConnection& operator=(const StationConnection&) = delete;

    // Sends the request, connecting and shaking hands first on a new
    // connection, and reads the answer; completion is called once, from a
    // handler of the event loop, unless Close() comes first. Whatever is not
    // done by the deadline (connecting, the handshake, sending, the answer)
    // fails with beast's timeout. One exchange at a time, and only while
    // IsUsable().
    void Exchange(Request request, std::chrono::steady_clock::time_point deadline, KeyCheck keyCheck,
                  Completion completion);

    // Drops the connection and whatever is in flight without calling its
    // completion; the socket is closed at once, so no answer that was on its
    // way can be read by anyone.
    void Close();

    // Not failed, not closed, and the last answer allowed keeping it alive.
    bool IsUsable() const { return _state == State::New || _state == State::Idle; }

    // The last exchange failed before any byte of the answer arrived, on a
    // connection that had answered before: the station may have closed it
    // while it was idle, so the request can be sent again on a new one.
    bool FailedWhileStale() const { return _failedWhileStale; }

private:
    enum class State { New, Busy, Idle, Closed };

    void Connect();
    void OnConnect(boost::system::error_code error);
    void OnHandshake(boost::system::error_code error);
    void Write();
    void OnWrite(boost::system::error_code error, std::size_t bytesTransferred);
    void OnReadHeader(boost::system::error_code error, std::size_t bytesTransferred);
    void OnRead(boost::system::error_code error, std::size_t bytesTransferred);
    void Fail(const boost::system::error_code& error);
    void Complete(const boost::system::error_code& error, Response response);

    std::shared_ptr<boost::asio::ssl::context> _context;
    boost::beast::ssl_stream<boost::beast::tcp_stream> _stream;
    boost::asio::ip::tcp::endpoint _endpoint;
    Limits _limits;
    State _state = State::New;
    std::size_t _answeredCount = 0;
    std::shared_ptr<std::size_t> _handshakeCounter;
    bool _failedWhileStale = false;
    boost::beast::flat_buffer _buffer;
    Request _request;
    std::string _stationKey;
    KeyCheck _keyCheck;
    boost::optional<boost::beast::http::response_parser<boost::beast::http::string_body>> _parser;
    Completion _completion;
};

}  // namespace Keldra
