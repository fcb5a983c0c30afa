#include "StationTransportError.h"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>

namespace Keldra {

boost::system::error_code StationTransportError(const boost::system::error_code& error)
{
    namespace http = boost::beast::http;
    if (error == boost::beast::error::timeout) {
        return boost::asio::error::timed_out;
    }
    if (error == http::error::end_of_stream || error == boost::asio::error::eof ||
        error == boost::asio::error::broken_pipe) {
        return boost::asio::error::connection_reset;
    }
    if (error.category() == boost::system::error_code(http::error::end_of_stream).category()) {
        return boost::system::errc::make_error_code(boost::system::errc::bad_message);
    }
    return error;
}

}  // namespace Keldra
