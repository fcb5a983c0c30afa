#include "StationSimulator.h"

#include <utility>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <openssl/ssl.h>

#include "ControlApi.h"
#include "ControlSession.h"
#include "MDnsAnnouncer.h"
#include "SelfSignedCertificate.h"
#include "StationSession.h"
#include "TcpListener.h"

namespace Keldra {
namespace Simulation {

namespace {

std::string EndpointText(const boost::asio::ip::tcp::endpoint& endpoint)
{
    const std::string address = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
}

}  // namespace

StationSimulator::StationSimulator(StationState state, Options options)
    : _options(std::move(options)), _station(std::move(state)), _sslContext(boost::asio::ssl::context::tls_server),
      _ioContext(std::make_unique<boost::asio::io_context>(1))
{
}

StationSimulator::~StationSimulator()
{
    Stop();
}

std::string StationSimulator::Start()
{
    if (_started) {
        return "the simulator was started before";
    }
    _started = true;
    _sslContext.set_options(boost::asio::ssl::context::default_workarounds | boost::asio::ssl::context::no_sslv2 |
                            boost::asio::ssl::context::no_sslv3 | boost::asio::ssl::context::no_tlsv1 |
                            boost::asio::ssl::context::no_tlsv1_1 | boost::asio::ssl::context::single_dh_use);
    SSL_CTX_set_min_proto_version(_sslContext.native_handle(), TLS1_2_VERSION);
    const StationState state = _station.State();
    std::string error = UseSelfSignedCertificate(_sslContext, "plavo-" + state.stationId, _options.keyFile);
    if (error.empty()) {
        error = Listen();
    }
    if (!error.empty()) {
        Stop();
        return error;
    }
    Log("listening on " + EndpointText(_stationEndpoint));
    Log("control on " + EndpointText(_controlEndpoint));
    if (_options.announce) {
        MDnsAnnouncer::Announcement announcement;
        announcement.instanceName = "plavo-" + state.stationId;
        announcement.port = _stationEndpoint.port();
        announcement.txt = {"Vendor=" + state.vendor, "Model=" + state.model};
        const boost::asio::ip::address address = _stationEndpoint.address();
        if (address.is_v4() && !address.is_unspecified() && !address.is_loopback()) {
            announcement.ipv4Address = address.to_string();
        }
        _announcer =
            std::make_unique<MDnsAnnouncer>(announcement, [this](const std::string& message) { Log(message); });
        if (!_announcer->Start(error)) {
            Stop();
            return "mDNS: " + error;
        }
    }
    _stationListener->Run();
    _controlListener->Run();
    _thread = std::thread([this] { _ioContext->run(); });
    return {};
}

std::string StationSimulator::Listen()
{
    boost::system::error_code error;
    const auto stationAddress = boost::asio::ip::make_address(_options.address, error);
    if (error) {
        return "cannot listen on '" + _options.address + "': " + error.message();
    }
    const auto controlAddress = boost::asio::ip::make_address(_options.controlAddress, error);
    if (error) {
        return "cannot take control requests on '" + _options.controlAddress + "': " + error.message();
    }
    const boost::asio::ip::tcp::endpoint stationEndpoint(stationAddress, _options.port);
    _stationListener = std::make_shared<TcpListener>(
        *_ioContext, stationEndpoint,
        [this](boost::asio::ip::tcp::socket socket) {
            if (_station.OnConnection()) {
                boost::system::error_code ignored;
                socket.close(ignored);
                return;
            }
            std::make_shared<StationSession>(std::move(socket), _sslContext, _station, _options.idleTimeout)->Run();
        },
        error);
    if (error) {
        return "cannot listen on " + EndpointText(stationEndpoint) + ": " + error.message();
    }
    _stationEndpoint = _stationListener->LocalEndpoint();

    const boost::asio::ip::tcp::endpoint controlEndpoint(controlAddress, _options.controlPort);
    _controlListener = std::make_shared<TcpListener>(
        *_ioContext, controlEndpoint,
        [this](boost::asio::ip::tcp::socket socket) {
            std::make_shared<ControlSession>(std::move(socket), _controlApi)->Run();
        },
        error);
    if (error) {
        return "cannot take control requests on " + EndpointText(controlEndpoint) + ": " + error.message();
    }
    _controlEndpoint = _controlListener->LocalEndpoint();
    _controlApi = std::make_shared<ControlApi>(_station, _stationEndpoint, _controlEndpoint);
    return {};
}

void StationSimulator::Stop()
{
    if (_announcer) {
        _announcer->Stop();
    }
    if (!_ioContext) {
        return;
    }
    _ioContext->stop();
    if (_thread.joinable()) {
        _thread.join();
    }
    // Destroying the event loop destroys the handlers still waiting in it and
    // with them every session, whose sockets close; the listeners go first
    // so that nothing outlives the loop.
    _stationListener.reset();
    _controlListener.reset();
    _ioContext.reset();
    _announcer.reset();
}

bool StationSimulator::IsAnnounced() const
{
    return _announcer && _announcer->IsAnnounced();
}

void StationSimulator::Log(const std::string& message)
{
    if (_options.log) {
        std::lock_guard<std::mutex> lock(_logMutex);
        _options.log(message);
    }
}

}  // namespace Simulation
}  // namespace Keldra
