#include "FakeMDnsClient.h"

#include <algorithm>
#include <utility>

#include <boost/asio/post.hpp>

namespace Keldra {
namespace Testing {

void FakeMDnsClient::Network::Announce(DeviceInfo device, boost::optional<ServiceInfo> resolved)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _instances.push_back({std::move(device), std::move(resolved)});
}

void FakeMDnsClient::Network::Withdraw(const std::string& instanceName)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _instances.erase(std::remove_if(_instances.begin(), _instances.end(),
                                    [&](const Instance& instance) { return instance.device.name == instanceName; }),
                     _instances.end());
}

void FakeMDnsClient::Network::WithdrawAll()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _instances.clear();
}

void FakeMDnsClient::Network::ReportFound(const DeviceInfo& device)
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (const auto& watcher : _watchers) {
        // The client may be gone by the time the event loop gets there.
        boost::asio::post(*watcher.ioService, [this, client = watcher.client, device]() {
            InstanceFoundCallback callback;
            {
                std::lock_guard<std::mutex> innerLock(_mutex);
                const auto found = std::find_if(_watchers.begin(), _watchers.end(),
                                                [client](const Watcher& other) { return other.client == client; });
                if (found == _watchers.end()) {
                    return;
                }
                callback = found->callback;
            }
            callback(device);
        });
    }
}

void FakeMDnsClient::Network::ForgetWatcher(const FakeMDnsClient* client)
{
    _watchers.erase(std::remove_if(_watchers.begin(), _watchers.end(),
                                   [client](const Watcher& watcher) { return watcher.client == client; }),
                    _watchers.end());
}

void FakeMDnsClient::Network::SetResolveDelivery(ResolveDelivery delivery)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _delivery = delivery;
}

std::size_t FakeMDnsClient::Network::ReleaseHeldResolves()
{
    std::vector<HeldResolve> held;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        held.swap(_held);
    }
    for (auto& answer : held) {
        boost::asio::post(*answer.ioService, [callback = std::move(answer.callback),
                                              service = std::move(answer.service)]() mutable {
            callback(std::move(service));
        });
    }
    return held.size();
}

std::size_t FakeMDnsClient::Network::HeldResolveCount() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _held.size();
}

std::vector<FakeMDnsClient::Network::Call> FakeMDnsClient::Network::Calls() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _calls;
}

std::vector<std::string> FakeMDnsClient::Network::Arguments(const std::string& operation) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::string> arguments;
    for (const auto& call : _calls) {
        if (call.operation == operation) {
            arguments.push_back(call.argument);
        }
    }
    return arguments;
}

void FakeMDnsClient::Network::ClearCalls()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _calls.clear();
}

std::size_t FakeMDnsClient::Network::ClientCount() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _clientCount;
}

FakeMDnsClient::FakeMDnsClient(boost::asio::io_service& ioService, std::shared_ptr<Network> network)
    : _ioService(ioService), _network(std::move(network))
{
    std::lock_guard<std::mutex> lock(_network->_mutex);
    ++_network->_clientCount;
}

FakeMDnsClient::~FakeMDnsClient()
{
    std::lock_guard<std::mutex> lock(_network->_mutex);
    --_network->_clientCount;
    _network->ForgetWatcher(this);
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
            if (instance.device.type == serviceType) {
                listed.push_back(instance.device);
            }
        }
    }
    for (auto& device : listed) {
        callback(std::move(device));
    }
}

void FakeMDnsClient::Resolve(const DeviceInfo& device, ResolveCallback callback)
{
    boost::optional<ServiceInfo> answer;
    auto delivery = Network::ResolveDelivery::Immediately;
    {
        std::lock_guard<std::mutex> lock(_network->_mutex);
        _network->_calls.push_back({"Resolve", device.name, std::this_thread::get_id()});
        delivery = _network->_delivery;
        const auto& instances = _network->_instances;
        const auto instance = std::find_if(instances.begin(), instances.end(),
                                           [&](const Network::Instance& candidate) { return candidate.device == device; });
        if (instance == instances.end() || !instance->resolved) {
            return;
        }
        answer = instance->resolved;
        if (delivery == Network::ResolveDelivery::Held) {
            _network->_held.push_back({&_ioService, std::move(callback), std::move(*answer)});
            return;
        }
    }
    if (delivery == Network::ResolveDelivery::Immediately) {
        callback(std::move(*answer));
        return;
    }
    boost::asio::post(_ioService, [callback = std::move(callback), service = std::move(*answer)]() mutable {
        callback(std::move(service));
    });
}

void FakeMDnsClient::SetInstanceFoundCallback(InstanceFoundCallback callback)
{
    std::lock_guard<std::mutex> lock(_network->_mutex);
    _network->ForgetWatcher(this);
    _network->_watchers.push_back({this, &_ioService, std::move(callback)});
}

}  // namespace Testing
}  // namespace Keldra
