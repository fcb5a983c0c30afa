// One plain HTTP connection to the control interface: requests read one at
// a time and answered by the ControlApi.
#pragma once

#include <memory>
#include <optional>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "ControlApi.h"

namespace Keldra {
namespace Simulation {

class ControlSession : public std::enable_shared_from_this<ControlSession> {
public:
    ControlSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<const ControlApi> api);

    void Run();

private:
    void Read();
    void OnRead(boost::system::error_code error, std::size_t bytesTransferred);
    void OnWrite(bool close, boost::system::error_code error, std::size_t bytesTransferred);
    void Close();

    boost::beast::tcp_stream _stream;
    boost::beast::flat_buffer _buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> _parser;
    std::shared_ptr<const ControlApi> _api;
    SimulatedStation::Response _response;
};

}  // namespace Simulation
}  // namespace Keldra
