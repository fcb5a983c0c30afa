#include "TestHttpClient.h"

#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <openssl/evp.h>

namespace Keldra {
namespace Simulation {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

std::string Base64(const std::string& text)
{
    std::vector<unsigned char> encoded(4 * ((text.size() + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(encoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    return std::string(encoded.begin(), encoded.begin() + length);
}

}  // namespace

TestHttpClient::TestHttpClient(boost::asio::ip::tcp::endpoint endpoint, bool useTls)
    : _sslContext(boost::asio::ssl::context::tls_client), _endpoint(std::move(endpoint)), _useTls(useTls)
{
    _sslContext.set_verify_mode(boost::asio::ssl::verify_none);
}

template <typename Operation>
boost::system::error_code TestHttpClient::Run(Operation&& operation)
{
    boost::system::error_code result = boost::asio::error::would_block;
    auto& lowest = _useTls ? beast::get_lowest_layer(*_tlsStream) : *_plainStream;
    lowest.expires_after(_timeout);
    operation([&result](boost::system::error_code error, auto&&...) { result = error; });
    _ioContext.restart();
    _ioContext.run();
    return result;
}

boost::system::error_code TestHttpClient::Connect()
{
    if (_connected) {
        return {};
    }
    _buffer.clear();
    if (_useTls) {
        _tlsStream.emplace(_ioContext, _sslContext);
    } else {
        _plainStream.emplace(_ioContext);
    }
    auto& lowest = _useTls ? beast::get_lowest_layer(*_tlsStream) : *_plainStream;
    boost::system::error_code error = Run([&](auto handler) { lowest.async_connect(_endpoint, std::move(handler)); });
    if (!error && _useTls) {
        error = Run([&](auto handler) {
            _tlsStream->async_handshake(boost::asio::ssl::stream_base::client, std::move(handler));
        });
    }
    _connected = !error;
    return error;
}

TestHttpClient::Result TestHttpClient::Send(http::verb method, const std::string& target, const std::string& body,
                                            const std::optional<Credentials>& credentials)
{
    http::request<http::string_body> request(method, target, 11);
    request.set(http::field::host, _endpoint.address().to_string());
    request.set(http::field::user_agent, "simulator-tests");
    request.set(http::field::accept, "application/json");
    if (credentials) {
        request.set(http::field::authorization, "Basic " + Base64(credentials->first + ":" + credentials->second));
    }
    if (!body.empty()) {
        request.set(http::field::content_type, "application/json");
        request.body() = body;
    }
    request.prepare_payload();
    return Exchange(nullptr, &request);
}

TestHttpClient::Result TestHttpClient::SendRaw(const std::string& bytes)
{
    return Exchange(&bytes, nullptr);
}

TestHttpClient::Result TestHttpClient::Exchange(const std::string* raw, http::request<http::string_body>* request)
{
    Result result;
    result.error = Connect();
    if (result.error) {
        return result;
    }
    http::response_parser<http::string_body> parser;
    parser.body_limit(1024 * 1024);
    const auto exchange = [&](auto& stream) {
        boost::system::error_code error = Run([&](auto handler) {
            if (raw != nullptr) {
                boost::asio::async_write(stream, boost::asio::buffer(*raw), std::move(handler));
            } else {
                http::async_write(stream, *request, std::move(handler));
            }
        });
        if (!error) {
            error = Run([&](auto handler) { http::async_read(stream, _buffer, parser, std::move(handler)); });
        }
        return error;
    };
    result.error = _useTls ? exchange(*_tlsStream) : exchange(*_plainStream);
    if (result.error) {
        Close();
        return result;
    }
    result.response = parser.release();
    if (!result.response.keep_alive()) {
        Close();
    }
    return result;
}

boost::system::error_code TestHttpClient::AwaitClose()
{
    if (!_connected) {
        return boost::asio::error::not_connected;
    }
    char byte = 0;
    boost::system::error_code error;
    if (_useTls) {
        error =
            Run([&](auto handler) { _tlsStream->async_read_some(boost::asio::buffer(&byte, 1), std::move(handler)); });
    } else {
        error = Run(
            [&](auto handler) { _plainStream->async_read_some(boost::asio::buffer(&byte, 1), std::move(handler)); });
    }
    Close();
    return error;
}

void TestHttpClient::Close()
{
    boost::system::error_code ignored;
    if (_tlsStream) {
        beast::get_lowest_layer(*_tlsStream).socket().close(ignored);
        _tlsStream.reset();
    }
    if (_plainStream) {
        _plainStream->socket().close(ignored);
        _plainStream.reset();
    }
    _connected = false;
}

}  // namespace Simulation
}  // namespace Keldra
