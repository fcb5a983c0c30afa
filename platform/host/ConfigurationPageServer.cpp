#include "ConfigurationPageServer.h"

#include <chrono>
#include <exception>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/optional.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "ConfigurationPage.h"
#include "OruLogging.h"

namespace Oru {

namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

namespace {

constexpr std::chrono::seconds ReadTimeout(30);
const std::string ApiPrefix = "/api/";

std::string JsonText(const rapidjson::Value& value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ErrorJson(const std::string& code)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("error");
    writer.String(code.c_str(), static_cast<rapidjson::SizeType>(code.size()));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

ConfigurationPageServer::Response MakeResponse(const ConfigurationPageServer::Request& request, http::status status,
                                               const char* contentType, std::string body)
{
    ConfigurationPageServer::Response response(status, request.version());
    response.set(http::field::content_type, contentType);
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    response.prepare_payload();
    return response;
}

ConfigurationPageServer::Response JsonResponse(const ConfigurationPageServer::Request& request, http::status status,
                                               std::string body)
{
    return MakeResponse(request, status, "application/json", std::move(body));
}

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

ConfigurationPageServer::Response CallService(const ConfigurationPageServer::Request& request,
                                              const std::string& name, IProductWebService& productWebService)
{
    rapidjson::Document parameters;
    if (IsBlank(request.body())) {
        parameters.SetObject();
    } else {
        // Iterative: deeply nested input cannot exhaust the stack.
        parameters.Parse<rapidjson::kParseIterativeFlag>(request.body().data(), request.body().size());
        if (parameters.HasParseError()) {
            return JsonResponse(request, http::status::bad_request, ErrorJson("InvalidJson"));
        }
    }

    ProductWebServiceResult result;
    try {
        result = productWebService.HandleRequest(name, parameters);
    } catch (const std::exception& error) {
        ORU_LOG_ERROR("The product web service failed on " << name << ": " << error.what());
        return JsonResponse(request, http::status::internal_server_error, ErrorJson("InternalError"));
    }

    if (std::holds_alternative<std::monostate>(result)) {
        return JsonResponse(request, http::status::not_found, ErrorJson("UnknownRequest"));
    }
    if (const auto* code = std::get_if<std::string>(&result)) {
        ORU_LOG_INFO("Configuration page request " << name << " answered " << *code);
        return JsonResponse(request, http::status::bad_request, ErrorJson(*code));
    }
    return JsonResponse(request, http::status::ok, JsonText(std::get<rapidjson::Document>(result)));
}

}  // namespace

// Accepts connections and owns nothing but the acceptor; sessions keep it
// alive to reach the service, which Close() takes away.
class ConfigurationPageServer::Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(boost::asio::io_service& ioService, IProductWebService& productWebService)
        : _acceptor(ioService), _productWebService(&productWebService)
    {
    }

    boost::system::error_code Listen(unsigned short port)
    {
        boost::system::error_code error;
        const tcp::endpoint endpoint(boost::asio::ip::address_v4::loopback(), port);
        _acceptor.open(endpoint.protocol(), error);
        if (!error) {
            _acceptor.set_option(tcp::acceptor::reuse_address(true), error);
        }
        if (!error) {
            _acceptor.bind(endpoint, error);
        }
        if (!error) {
            _acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
        }
        if (error) {
            boost::system::error_code ignored;
            _acceptor.close(ignored);
            return error;
        }
        Accept();
        return {};
    }

    unsigned short GetPort() const
    {
        boost::system::error_code error;
        const auto endpoint = _acceptor.local_endpoint(error);
        return error ? 0 : endpoint.port();
    }

    void Close()
    {
        _productWebService = nullptr;
        boost::system::error_code ignored;
        _acceptor.close(ignored);
    }

    Response Handle(const Request& request)
    {
        if (_productWebService == nullptr) {
            return JsonResponse(request, http::status::service_unavailable, ErrorJson("Unavailable"));
        }
        return Respond(request, *_productWebService);
    }

private:
    void Accept()
    {
        _acceptor.async_accept(beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
    }

    void OnAccept(const boost::system::error_code& error, tcp::socket socket);

    tcp::acceptor _acceptor;
    IProductWebService* _productWebService;
};

namespace {

// One connection: read a request, answer it, and again while the client
// keeps the connection.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket&& socket, std::shared_ptr<ConfigurationPageServer::Listener> listener)
        : _stream(std::move(socket)), _listener(std::move(listener))
    {
    }

    void Run() { Read(); }

private:
    void Read()
    {
        _parser.emplace();
        _parser->body_limit(ConfigurationPageServer::MaximumBodySize);
        _stream.expires_after(ReadTimeout);
        http::async_read(_stream, _buffer, *_parser, beast::bind_front_handler(&Session::OnRead, shared_from_this()));
    }

    void OnRead(const boost::system::error_code& error, std::size_t)
    {
        if (error == http::error::end_of_stream) {
            return Shutdown();
        }
        if (error == http::error::body_limit) {
            ConfigurationPageServer::Request request = _parser->release();
            _response = MakeResponse(request, http::status::payload_too_large, "application/json",
                                     ErrorJson("RequestTooLarge"));
            _response.keep_alive(false);
            return Write();
        }
        if (error) {
            return;  // timeout, reset, garbage: the connection goes
        }
        _response = _listener->Handle(_parser->release());
        Write();
    }

    void Write()
    {
        http::async_write(_stream, _response, beast::bind_front_handler(&Session::OnWrite, shared_from_this()));
    }

    void OnWrite(const boost::system::error_code& error, std::size_t)
    {
        if (error) {
            return;
        }
        if (_response.need_eof()) {
            return Shutdown();
        }
        Read();
    }

    void Shutdown()
    {
        boost::system::error_code ignored;
        _stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream _stream;
    beast::flat_buffer _buffer;
    boost::optional<http::request_parser<http::string_body>> _parser;
    ConfigurationPageServer::Response _response;
    std::shared_ptr<ConfigurationPageServer::Listener> _listener;
};

}  // namespace

void ConfigurationPageServer::Listener::OnAccept(const boost::system::error_code& error, tcp::socket socket)
{
    if (error == boost::asio::error::operation_aborted || !_acceptor.is_open()) {
        return;
    }
    if (!error) {
        std::make_shared<Session>(std::move(socket), shared_from_this())->Run();
    }
    Accept();
}

ConfigurationPageServer::ConfigurationPageServer(boost::asio::io_service& ioService,
                                                 IProductWebService& productWebService)
    : _listener(std::make_shared<Listener>(ioService, productWebService))
{
}

ConfigurationPageServer::~ConfigurationPageServer() { Close(); }

boost::system::error_code ConfigurationPageServer::Listen(unsigned short port) { return _listener->Listen(port); }

unsigned short ConfigurationPageServer::GetPort() const { return _listener->GetPort(); }

void ConfigurationPageServer::Close() { _listener->Close(); }

ConfigurationPageServer::Response ConfigurationPageServer::Respond(const Request& request,
                                                                   IProductWebService& productWebService)
{
    const std::string target(request.target());
    const std::string path = target.substr(0, target.find('?'));

    if (path == "/" || path == "/index.html") {
        if (request.method() != http::verb::get) {
            auto response = MakeResponse(request, http::status::method_not_allowed, "text/plain", "Use GET.\n");
            response.set(http::field::allow, "GET");
            return response;
        }
        return MakeResponse(request, http::status::ok, "text/html; charset=utf-8", ConfigurationPageHtml());
    }

    if (path.compare(0, ApiPrefix.size(), ApiPrefix) == 0) {
        if (request.method() != http::verb::post) {
            auto response = JsonResponse(request, http::status::method_not_allowed, ErrorJson("UsePost"));
            response.set(http::field::allow, "POST");
            return response;
        }
        return CallService(request, path.substr(ApiPrefix.size()), productWebService);
    }

    return MakeResponse(request, http::status::not_found, "text/plain", "Not found.\n");
}

}  // namespace Oru
