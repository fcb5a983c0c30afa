#include "TestHttpsStation.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include <boost/asio/read.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/optional.hpp>
#include <openssl/ssl.h>

#include "SelfSignedCertificate.h"

namespace Keldra {
namespace Testing {

namespace beast = boost::beast;
namespace http = beast::http;
using boost::asio::ip::tcp;

struct TestHttpsStation::Shared {
    explicit Shared(boost::asio::io_service& ioService_)
        : ioService(ioService_), context(boost::asio::ssl::context::tls_server), acceptor(ioService_)
    {
    }

    boost::asio::io_service& ioService;
    boost::asio::ssl::context context;
    tcp::acceptor acceptor;
    Script script = [](const ReceivedRequest&) { return Json("{}"); };
    Greeting greeting = Greeting::Handshake;
    std::vector<ReceivedRequest> requests;
    std::vector<std::shared_ptr<Session>> sessions;
    std::size_t accepted = 0;
    std::uint64_t streamedBytes = 0;
    bool streamEnded = false;
    bool pipelined = false;
};

class TestHttpsStation::Session : public std::enable_shared_from_this<Session> {
public:
    Session(std::shared_ptr<Shared> shared, tcp::socket socket, std::size_t number)
        : _shared(std::move(shared)),
          _stream(std::move(socket), _shared->context),
          _number(number),
          _timer(_shared->ioService)
    {
    }

    void Start(Greeting greeting)
    {
        switch (greeting) {
        case Greeting::Handshake:
            _stream.async_handshake(boost::asio::ssl::stream_base::server,
                                    beast::bind_front_handler(&Session::OnHandshake, shared_from_this()));
            return;
        case Greeting::CloseMidHandshake:
            boost::asio::async_read(Socket(), boost::asio::buffer(_recordHeader),
                                    beast::bind_front_handler(&Session::OnRecordHeader, shared_from_this()));
            return;
        case Greeting::Silence:
            return;
        }
    }

    bool IsIdle() const { return _idle; }

    void Close()
    {
        _timer.cancel();
        beast::error_code ignored;
        Socket().close(ignored);
    }

private:
    tcp::socket& Socket() { return beast::get_lowest_layer(_stream).socket(); }

    void OnRecordHeader(beast::error_code error, std::size_t)
    {
        if (error) {
            return;
        }
        _recordBody.resize(static_cast<std::size_t>(_recordHeader[3]) << 8 | _recordHeader[4]);
        boost::asio::async_read(Socket(), boost::asio::buffer(_recordBody),
                                beast::bind_front_handler(&Session::OnRecordBody, shared_from_this()));
    }

    void OnRecordBody(beast::error_code, std::size_t)
    {
        beast::error_code ignored;
        Socket().shutdown(tcp::socket::shutdown_both, ignored);
        Socket().close(ignored);
    }

    void OnHandshake(beast::error_code error)
    {
        if (!error) {
            Read();
        }
    }

    void Read()
    {
        _idle = _buffer.size() == 0;
        _parser.emplace();
        http::async_read(_stream, _buffer, *_parser, beast::bind_front_handler(&Session::OnRead, shared_from_this()));
    }

    void OnRead(beast::error_code error, std::size_t)
    {
        _idle = false;
        if (error) {
            return;
        }
        if (_buffer.size() != 0) {
            _shared->pipelined = true;
        }
        const auto& message = _parser->get();
        ReceivedRequest request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        request.body = message.body();
        for (const auto& field : message) {
            std::string name(field.name_string());
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
            request.fields[name] = std::string(field.value());
        }
        request.connection = _number;
        _shared->requests.push_back(request);
        Act(_shared->script(request));
    }

    void Act(const Reply& reply)
    {
        _reply = reply;
        switch (reply.action) {
        case Action::Respond: {
            _response.emplace(static_cast<http::status>(reply.status), 11);
            _response->set(http::field::content_type, "application/json");
            _response->keep_alive(!reply.closeConnection);
            _response->body() = reply.body;
            _response->prepare_payload();
            http::async_write(_stream, *_response,
                              beast::bind_front_handler(&Session::OnResponseWritten, shared_from_this()));
            return;
        }
        case Action::Hold:
            return;
        case Action::Reset: {
            beast::error_code ignored;
            Socket().set_option(boost::asio::socket_base::linger(true, 0), ignored);
            Socket().close(ignored);
            return;
        }
        case Action::Truncate:
        case Action::SendRawAndHold:
        case Action::Stream:
            _shared->streamedBytes += reply.raw.size();
            boost::asio::async_write(_stream, boost::asio::buffer(_reply.raw),
                                     beast::bind_front_handler(&Session::OnRawWritten, shared_from_this()));
            return;
        }
    }

    void OnResponseWritten(beast::error_code error, std::size_t)
    {
        if (error) {
            return;
        }
        if (_reply.closeConnection) {
            return Close();
        }
        Read();
    }

    void OnRawWritten(beast::error_code error, std::size_t)
    {
        if (error) {
            _shared->streamEnded = true;
            return;
        }
        switch (_reply.action) {
        case Action::Truncate:
            return Close();
        case Action::Stream:
            return StreamNext();
        default:
            return;
        }
    }

    void StreamNext()
    {
        if (_shared->streamedBytes > s_streamLimit) {
            return;
        }
        if (_reply.pause.count() == 0) {
            return WriteRepeated();
        }
        _timer.expires_after(_reply.pause);
        _timer.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error) {
                self->WriteRepeated();
            }
        });
    }

    void WriteRepeated()
    {
        boost::asio::async_write(_stream, boost::asio::buffer(_reply.repeated),
                                 [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                                     self->_shared->streamedBytes += bytes;
                                     if (error) {
                                         self->_shared->streamEnded = true;
                                         return;
                                     }
                                     self->StreamNext();
                                 });
    }

    // A Stream reply stops here even if the client kept reading.
    static constexpr std::uint64_t s_streamLimit = 200ull * 1024 * 1024;

    std::shared_ptr<Shared> _shared;
    beast::ssl_stream<beast::tcp_stream> _stream;
    std::size_t _number;
    boost::asio::steady_timer _timer;
    beast::flat_buffer _buffer;
    boost::optional<http::request_parser<http::string_body>> _parser;
    boost::optional<http::response<http::string_body>> _response;
    Reply _reply;
    bool _idle = false;
    std::array<unsigned char, 5> _recordHeader{};
    std::vector<unsigned char> _recordBody;
};

std::string TestHttpsStation::ReceivedRequest::Field(const std::string& lowerCaseName) const
{
    const auto field = fields.find(lowerCaseName);
    return field == fields.end() ? "<absent>" : field->second;
}

TestHttpsStation::Reply TestHttpsStation::Json(std::string body, unsigned int status)
{
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

TestHttpsStation::TestHttpsStation(boost::asio::io_service& ioService) : _shared(std::make_shared<Shared>(ioService))
{
    SSL_CTX_set_min_proto_version(_shared->context.native_handle(), TLS1_2_VERSION);
    UseNewSelfSignedCertificate(_shared->context);
    const tcp::endpoint loopback(boost::asio::ip::address_v4::loopback(), 0);
    _shared->acceptor.open(loopback.protocol());
    _shared->acceptor.bind(loopback);
    _shared->acceptor.listen();
    Accept(_shared);
}

TestHttpsStation::~TestHttpsStation() { Stop(); }

void TestHttpsStation::Accept(const std::shared_ptr<Shared>& shared)
{
    shared->acceptor.async_accept([shared](beast::error_code error, tcp::socket socket) {
        if (error) {
            return;
        }
        auto session = std::make_shared<Session>(shared, std::move(socket), ++shared->accepted);
        shared->sessions.push_back(session);
        session->Start(shared->greeting);
        Accept(shared);
    });
}

tcp::endpoint TestHttpsStation::Endpoint() const { return _shared->acceptor.local_endpoint(); }

void TestHttpsStation::SetScript(Script script) { _shared->script = std::move(script); }

void TestHttpsStation::SetGreeting(Greeting greeting) { _shared->greeting = greeting; }

const std::vector<TestHttpsStation::ReceivedRequest>& TestHttpsStation::Requests() const
{
    return _shared->requests;
}

std::size_t TestHttpsStation::AcceptedConnections() const { return _shared->accepted; }

std::uint64_t TestHttpsStation::StreamedBytes() const { return _shared->streamedBytes; }

bool TestHttpsStation::StreamEnded() const { return _shared->streamEnded; }

bool TestHttpsStation::SawPipelinedRequest() const { return _shared->pipelined; }

void TestHttpsStation::CloseIdleConnections()
{
    for (const auto& session : _shared->sessions) {
        if (session->IsIdle()) {
            session->Close();
        }
    }
}

void TestHttpsStation::Stop()
{
    beast::error_code ignored;
    _shared->acceptor.close(ignored);
    for (const auto& session : _shared->sessions) {
        session->Close();
    }
    _shared->sessions.clear();
}

}  // namespace Testing
}  // namespace Keldra
