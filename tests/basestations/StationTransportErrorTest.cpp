#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>

#include "platform/webapi/StationTransportError.h"

using namespace Keldra;
namespace http = boost::beast::http;

namespace {

TEST(StationTransportError, MapsEveryFailureToTheErrorOfTheProtocol)
{
    const auto badMessage = boost::system::errc::make_error_code(boost::system::errc::bad_message);
    const struct {
        boost::system::error_code transport;
        boost::system::error_code expected;
    } cases[] = {
        {boost::beast::error::timeout, boost::asio::error::timed_out},
        {boost::asio::error::connection_refused, boost::asio::error::connection_refused},
        {boost::asio::error::connection_reset, boost::asio::error::connection_reset},
        {boost::asio::error::host_unreachable, boost::asio::error::host_unreachable},
        {boost::asio::ssl::error::stream_truncated, boost::asio::ssl::error::stream_truncated},
        {boost::asio::error::eof, boost::asio::error::connection_reset},
        {http::error::end_of_stream, boost::asio::error::connection_reset},
        {boost::asio::error::broken_pipe, boost::asio::error::connection_reset},
        {http::error::partial_message, badMessage},
        {http::error::body_limit, badMessage},
        {http::error::header_limit, badMessage},
        {http::error::buffer_overflow, badMessage},
        {http::error::bad_version, badMessage},
        {http::error::bad_chunk, badMessage},
        {boost::asio::error::network_unreachable, boost::asio::error::network_unreachable},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(StationTransportError(entry.transport), entry.expected) << entry.transport.message();
    }
}

}  // namespace
