// A base station stand-in for the web API client tests: an HTTPS server on
// 127.0.0.1 (ephemeral port, the simulator's self-signed certificate) on the
// test's io_service. It records every request and answers as the script
// says, including the ways a broken or hostile station misbehaves.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/optional.hpp>
#include <openssl/ssl.h>

#include "tools/simulator/SelfSignedCertificate.h"

namespace Keldra {
namespace Testing {

class TestHttpsStation : public std::enable_shared_from_this<TestHttpsStation> {
public:
    struct Request {
        boost::beast::http::request<boost::beast::http::string_body> message;
        std::string Line() const
        {
            return std::string(message.method_string()) + " " + std::string(message.target()) + " " + message.body();
        }
        std::string Field(const std::string& name) const
        {
            const auto field = message.find(name);
            return field == message.end() ? "<absent>" : std::string(field->value());
        }
    };
    enum class Action {
        Respond,   // send raw, then read the next request
        Close,     // send raw, then close TCP without TLS close_notify
        Hold,      // send raw, then nothing more
        Reset,     // drop the connection with a TCP reset
        Stream,    // send raw, then repeated again and again (pause apart) until the client goes
    };
    struct Reply {
        Action action = Action::Respond;
        std::string raw = {}, repeated = {};  // HTTP bytes sent as they are (inside TLS)
        std::chrono::milliseconds pause = {};
    };
    // What the station does with a new TCP connection before any HTTP.
    enum class Greeting {
        Handshake,          // TLS, then HTTP
        CloseMidHandshake,  // read the client's first TLS record, then close (FIN)
        Silence,            // accept and never say or read anything
    };

    static Reply Json(const std::string& body, unsigned int status = 200, bool close = false)
    {
        return {close ? Action::Close : Action::Respond,
                "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
                    std::to_string(body.size()) + (close ? "\r\nConnection: close" : "") + "\r\n\r\n" + body};
    }

    static std::shared_ptr<TestHttpsStation> Start(boost::asio::io_service& ioService)
    {
        auto station = std::shared_ptr<TestHttpsStation>(new TestHttpsStation(ioService));
        station->Accept();
        return station;
    }

    boost::asio::ip::tcp::endpoint Endpoint() const { return _acceptor.local_endpoint(); }
    void AnswerEveryRequestWith(const Reply& reply)
    {
        script = [reply](const Request&) { return reply; };
    }
    // Closes (TCP, no close_notify) every connection waiting for its next
    // request, as a station does with idle connections.
    void CloseIdleConnections();
    // Stops accepting and closes every connection.
    void Stop();

    std::function<Reply(const Request&)> script;
    Greeting greeting = Greeting::Handshake;
    std::vector<Request> requests;
    std::size_t accepted = 0;
    std::uint64_t streamedBytes = 0;  // of raw and repeated texts other than Respond
    bool streamEnded = false;         // a reply stopped because the client was gone
    bool pipelined = false;           // a request arrived while the previous answer was owed

private:
    class Session;

    explicit TestHttpsStation(boost::asio::io_service& ioService)
        : _ioService(ioService),
          _context(boost::asio::ssl::context::tls_server),
          _acceptor(ioService, {boost::asio::ip::address_v4::loopback(), 0})
    {
        SSL_CTX_set_min_proto_version(_context.native_handle(), TLS1_2_VERSION);
        const std::string error = Simulation::UseSelfSignedCertificate(_context, "test station");
        if (!error.empty()) {
            throw std::runtime_error(error);
        }
    }

    void Accept();

    boost::asio::io_service& _ioService;
    boost::asio::ssl::context _context;
    boost::asio::ip::tcp::acceptor _acceptor;
    std::vector<std::shared_ptr<Session>> _sessions;
};

class TestHttpsStation::Session : public std::enable_shared_from_this<Session> {
    using Error = boost::beast::error_code;

public:
    Session(std::shared_ptr<TestHttpsStation> station, boost::asio::ip::tcp::socket socket)
        : _station(std::move(station)),
          _stream(std::move(socket), _station->_context),
          _timer(_station->_ioService)
    {
    }

    void Start(Greeting greeting)
    {
        auto self = shared_from_this();
        if (greeting == Greeting::Handshake) {
            _stream.async_handshake(boost::asio::ssl::stream_base::server, [self](Error error) {
                if (!error) {
                    self->Read();
                }
            });
        } else if (greeting == Greeting::CloseMidHandshake) {
            // The whole record is read, so that closing sends a FIN, not a reset.
            boost::asio::async_read(Socket(), boost::asio::buffer(_record), [self](Error error, std::size_t) {
                if (!error) {
                    self->_recordBody.resize(std::size_t{self->_record[3]} << 8 | self->_record[4]);
                    boost::asio::async_read(self->Socket(), boost::asio::buffer(self->_recordBody),
                                            [self](Error, std::size_t) { self->Close(true); });
                }
            });
        }
    }

    bool IsIdle() const { return _idle; }

    void Close(bool shutdown = false)
    {
        _timer.cancel();
        Error ignored;
        if (shutdown) {
            Socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        }
        Socket().close(ignored);
    }

private:
    boost::asio::ip::tcp::socket& Socket() { return boost::beast::get_lowest_layer(_stream).socket(); }

    void Read()
    {
        _idle = _buffer.size() == 0;
        _parser.emplace();
        boost::beast::http::async_read(_stream, _buffer, *_parser,
                                       [self = shared_from_this()](Error error, std::size_t) { self->OnRead(error); });
    }

    void OnRead(Error error)
    {
        _idle = false;
        if (error) {
            return;
        }
        _station->pipelined = _station->pipelined || _buffer.size() != 0;
        _station->requests.push_back(Request{_parser->release()});
        _reply = _station->script(_station->requests.back());
        if (_reply.action == Action::Reset) {
            Error ignored;
            Socket().set_option(boost::asio::socket_base::linger(true, 0), ignored);
            return Close();
        }
        Write(_reply.raw);
    }

    // Sends the text in one write: an answer's header and the start of its
    // body arrive together.
    void Write(const std::string& text)
    {
        boost::asio::async_write(_stream, boost::asio::buffer(text),
                                 [self = shared_from_this()](Error error, std::size_t bytes) {
                                     self->Written(error, bytes);
                                 });
    }

    void Written(Error error, std::size_t bytes)
    {
        _station->streamedBytes += _reply.action == Action::Respond ? 0 : bytes;
        if (error) {
            _station->streamEnded = true;
        } else if (_reply.action == Action::Respond) {
            Read();
        } else if (_reply.action == Action::Close) {
            Close();
        } else if (_reply.action == Action::Stream && _station->streamedBytes < 200ull * 1024 * 1024) {
            _timer.expires_after(_reply.pause);
            _timer.async_wait([self = shared_from_this()](Error cancelled) {
                if (!cancelled) {
                    self->Write(self->_reply.repeated);
                }
            });
        }
    }

    std::shared_ptr<TestHttpsStation> _station;
    boost::beast::ssl_stream<boost::beast::tcp_stream> _stream;
    boost::asio::steady_timer _timer;
    boost::beast::flat_buffer _buffer;
    boost::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> _parser;
    Reply _reply;
    bool _idle = false;
    std::array<unsigned char, 5> _record{};
    std::vector<unsigned char> _recordBody;
};

inline void TestHttpsStation::Accept()
{
    _acceptor.async_accept([self = shared_from_this()](boost::beast::error_code error,
                                                       boost::asio::ip::tcp::socket socket) {
        if (!error) {
            ++self->accepted;
            self->_sessions.push_back(std::make_shared<Session>(self, std::move(socket)));
            self->_sessions.back()->Start(self->greeting);
            self->Accept();
        }
    });
}

inline void TestHttpsStation::CloseIdleConnections()
{
    for (const auto& session : _sessions) {
        if (session->IsIdle()) {
            session->Close();
        }
    }
}

inline void TestHttpsStation::Stop()
{
    boost::beast::error_code ignored;
    _acceptor.close(ignored);
    for (const auto& session : _sessions) {
        session->Close();
    }
    _sessions.clear();
}

}  // namespace Testing
}  // namespace Keldra
