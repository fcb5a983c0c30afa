#include "FakeMDnsClient.h"

#include <algorithm>
#include <utility>

#include <boost/asio/post.hpp>

namespace Keldra {
namespace Testing {

using Network = FakeMDnsClient::Network;

void Network::Withdraw(const std::string& instanceName)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _instances.erase(std::remove_if(_instances.begin(), _instances.end(),
                                    [&](const auto& instance) { return instance.first.name == instanceName; }),
                     _instances.end());
}

void Network::ReportFound(const DeviceInfo& device)
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (auto* client : _clients) {
        // The client may be gone by the time its event loop gets there.
        boost::asio::post(client->_ioService, [this, client, device]() {
            const auto callback = Locked([&] {
                const bool alive = std::find(_clients.begin(), _clients.end(), client) != _clients.end();
                return alive ? client->_instanceFound : InstanceFoundCallback();
            });
            if (callback) {
                callback(device);
            }
        });
    }
}

void Network::ReleaseHeldResolves()
{
    for (auto& answer : Locked([this] { return std::exchange(_held, {}); })) {
        boost::asio::post(*answer.first, std::move(answer.second));
    }
}

std::vector<std::string> Network::Arguments(const std::string& operation) const
{
    std::vector<std::string> arguments;
    for (const auto& call : Calls()) {
        if (call.operation == operation) {
            arguments.push_back(call.argument);
        }
    }
    return arguments;
}

FakeMDnsClient::FakeMDnsClient(boost::asio::io_service& ioService, std::shared_ptr<Network> network)
    : _ioService(ioService), _network(std::move(network))
{
    _network->Locked([this] { _network->_clients.push_back(this); });
}

FakeMDnsClient::~FakeMDnsClient()
{
    auto& clients = _network->_clients;
    _network->Locked([&] { clients.erase(std::find(clients.begin(), clients.end(), this)); });
}

MDnsFactory FakeMDnsClient::Factory(std::shared_ptr<Network> network)
{
    return [network](boost::asio::io_service& ioService) -> std::unique_ptr<IMDnsClient> {
        return std::make_unique<FakeMDnsClient>(ioService, network);
    };
}

void FakeMDnsClient::Browse(const std::string& serviceType, BrowseCallback callback)
{
    std::vector<DeviceInfo> listed;
    {
        std::lock_guard<std::mutex> lock(_network->_mutex);
        _network->_calls.push_back({"Browse", serviceType, std::this_thread::get_id()});
        for (const auto& instance : _network->_instances) {
            if (instance.first.type == serviceType) {
                listed.push_back(instance.first);
            }
        }
    }
    for (auto& device : listed) {
        callback(std::move(device));
    }
}

void FakeMDnsClient::Resolve(const DeviceInfo& device, ResolveCallback callback)
{
    std::function<void()> answer;
    {
        std::lock_guard<std::mutex> lock(_network->_mutex);
        _network->_calls.push_back({"Resolve", device.name, std::this_thread::get_id()});
        const auto& instances = _network->_instances;
        const auto instance = std::find_if(instances.begin(), instances.end(),
                                           [&](const auto& candidate) { return candidate.first == device; });
        if (instance == instances.end() || !instance->second) {
            return;
        }
        answer = [callback, service = *instance->second]() mutable { callback(std::move(service)); };
        if (_network->_holdResolves) {
            _network->_held.emplace_back(&_ioService, std::move(answer));
            return;
        }
    }
    answer();
}

void FakeMDnsClient::SetInstanceFoundCallback(InstanceFoundCallback callback)
{
    std::lock_guard<std::mutex> lock(_network->_mutex);
    _instanceFound = std::move(callback);
}

}  // namespace Testing
}  // namespace Keldra
