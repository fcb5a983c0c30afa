// A blocking HTTP/1.1 client for the configuration page tests: one request
// per connection to 127.0.0.1.
#pragma once

#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

namespace Oru {
namespace Testing {

struct HttpAnswer {
    unsigned status = 0;
    std::string contentType;
    std::string body;
};

inline HttpAnswer HttpRequest(unsigned short port, boost::beast::http::verb method, const std::string& target,
                              const std::string& body = {})
{
    namespace http = boost::beast::http;
    boost::asio::io_context ioContext;
    boost::asio::ip::tcp::socket socket(ioContext);
    socket.connect({boost::asio::ip::address_v4::loopback(), port});

    http::request<http::string_body> request(method, target, 11);
    request.set(http::field::host, "127.0.0.1");
    if (method == http::verb::post) {
        request.set(http::field::content_type, "application/json");
        request.body() = body;
        request.prepare_payload();
    }
    http::write(socket, request);

    boost::beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(16 * 1024 * 1024);
    http::read(socket, buffer, parser);
    const auto& response = parser.get();

    boost::system::error_code ignored;
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    return {response.result_int(), std::string(response[http::field::content_type]), response.body()};
}

}  // namespace Testing
}  // namespace Oru
