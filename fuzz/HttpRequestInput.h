// Fuzz input read as the bytes of one HTTP request, as a server's parser
// reads them from its connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

namespace Keldra::Fuzzing {

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;

// The request, when the bytes hold a complete one within the limits.
inline std::optional<HttpRequest> ReadHttpRequest(const std::uint8_t* data, std::size_t size,
                                                  std::uint32_t headerLimit, std::uint64_t bodyLimit)
{
    boost::beast::http::request_parser<boost::beast::http::string_body> parser;
    parser.eager(true);
    parser.header_limit(headerLimit);
    parser.body_limit(bodyLimit);
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(data, size), error);
    if (error == boost::beast::http::error::need_more) {
        parser.put_eof(error);
    }
    if (error || !parser.is_done()) {
        return std::nullopt;
    }
    return parser.release();
}

}  // namespace Keldra::Fuzzing
