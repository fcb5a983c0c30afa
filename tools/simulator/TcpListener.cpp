#include "TcpListener.h"

#include <chrono>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/beast/core/bind_handler.hpp>

namespace Keldra {
namespace Simulation {

TcpListener::TcpListener(boost::asio::io_context& ioContext, const boost::asio::ip::tcp::endpoint& endpoint,
                         AcceptHandler onAccept, boost::system::error_code& error)
    : _ioContext(ioContext), _acceptor(ioContext), _pause(ioContext), _onAccept(std::move(onAccept))
{
    _acceptor.open(endpoint.protocol(), error);
    if (!error) {
        _acceptor.set_option(boost::asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        _acceptor.bind(endpoint, error);
    }
    if (!error) {
        _acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
    }
    if (!error) {
        _endpoint = _acceptor.local_endpoint(error);
    }
}

void TcpListener::Run()
{
    Accept();
}

void TcpListener::Close()
{
    boost::system::error_code ignored;
    _acceptor.close(ignored);
    _pause.cancel();
}

void TcpListener::Accept()
{
    _acceptor.async_accept(_ioContext, boost::beast::bind_front_handler(&TcpListener::OnAccept, shared_from_this()));
}

void TcpListener::OnAccept(boost::system::error_code error, boost::asio::ip::tcp::socket socket)
{
    if (error == boost::asio::error::operation_aborted || !_acceptor.is_open()) {
        return;
    }
    if (error) {
        // Out of file descriptors and the like: wait a little rather than spin.
        _pause.expires_after(std::chrono::milliseconds(100));
        _pause.async_wait(boost::beast::bind_front_handler(&TcpListener::OnPause, shared_from_this()));
        return;
    }
    _onAccept(std::move(socket));
    Accept();
}

void TcpListener::OnPause(boost::system::error_code error)
{
    if (!error && _acceptor.is_open()) {
        Accept();
    }
}

}  // namespace Simulation
}  // namespace Keldra
