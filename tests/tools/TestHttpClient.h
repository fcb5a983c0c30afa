// A minimal HTTP client for driving the simulator in tests: one connection,
// over TLS or plain, one request at a time, every step bounded by a timeout.
// Deliberately separate from the plug-in's web API client.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

namespace Keldra {
namespace Simulation {

class TestHttpClient {
public:
    using Response = boost::beast::http::response<boost::beast::http::string_body>;
    using Credentials = std::pair<std::string, std::string>;

    struct Result {
        boost::system::error_code error;
        Response response;
    };

    TestHttpClient(boost::asio::ip::tcp::endpoint endpoint, bool useTls);

    void SetTimeout(std::chrono::milliseconds timeout) { _timeout = timeout; }
    // Connects (and shakes hands over TLS) unless connected.
    boost::system::error_code Connect();
    // Sends a request (connecting first when needed) and reads the answer.
    Result Send(boost::beast::http::verb method, const std::string& target, const std::string& body = {},
                const std::optional<Credentials>& credentials = std::nullopt);
    // Sends raw bytes over the connection and reads whatever answer comes.
    Result SendRaw(const std::string& bytes);
    // Waits for the server to close the connection; the error it ends with.
    boost::system::error_code AwaitClose();
    void Close();
    bool IsConnected() const { return _connected; }

private:
    template <typename Operation>
    boost::system::error_code Run(Operation&& operation);
    Result Exchange(const std::string* raw, boost::beast::http::request<boost::beast::http::string_body>* request);

    boost::asio::io_context _ioContext;
    boost::asio::ssl::context _sslContext;
    boost::asio::ip::tcp::endpoint _endpoint;
    bool _useTls;
    std::optional<boost::beast::ssl_stream<boost::beast::tcp_stream>> _tlsStream;
    std::optional<boost::beast::tcp_stream> _plainStream;
    boost::beast::flat_buffer _buffer;
    std::chrono::milliseconds _timeout{5000};
    bool _connected = false;
};

}  // namespace Simulation
}  // namespace Keldra
