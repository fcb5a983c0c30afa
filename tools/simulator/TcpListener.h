// Accepts TCP connections on one endpoint and hands each new socket on,
// until closed.
#pragma once

#include <functional>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

namespace Keldra {
namespace Simulation {

class TcpListener : public std::enable_shared_from_this<TcpListener> {
public:
    using AcceptHandler = std::function<void(boost::asio::ip::tcp::socket)>;

    // Opens, binds and listens at once; error says why it could not.
    TcpListener(boost::asio::io_context& ioContext, const boost::asio::ip::tcp::endpoint& endpoint,
                AcceptHandler onAccept, boost::system::error_code& error);

    void Run();
    void Close();
    boost::asio::ip::tcp::endpoint LocalEndpoint() const { return _endpoint; }

private:
    void Accept();
    void OnAccept(boost::system::error_code error, boost::asio::ip::tcp::socket socket);
    void OnPause(boost::system::error_code error);

    boost::asio::io_context& _ioContext;
    boost::asio::ip::tcp::acceptor _acceptor;
    boost::asio::steady_timer _pause;
    boost::asio::ip::tcp::endpoint _endpoint;
    AcceptHandler _onAccept;
};

}  // namespace Simulation
}  // namespace Keldra
