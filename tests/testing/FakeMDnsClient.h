// A scripted mDNS client for tests. The services it sees on the network are
// set through a Network object that the test keeps while the client itself
// belongs to the code under test; the Network also records the calls.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/optional.hpp>

#include "discovery/IMDnsClient.h"
#include "discovery/MDnsFactory.h"

namespace Keldra {
namespace Testing {

class FakeMDnsClient final : public IMDnsClient {
public:
    class Network {
        template <typename F>
        auto Locked(F function) const -> decltype(function())
        {
            std::lock_guard<std::mutex> lock(_mutex);
            return function();
        }

    public:
        struct Call {
            std::string operation;  // "Browse" or "Resolve"
            std::string argument;   // the service type or the instance name
            std::thread::id thread;
        };

        // An instance that Browse lists for its service type; resolving it
        // yields the service, or nothing when resolved is empty.
        void Announce(DeviceInfo device, boost::optional<ServiceInfo> resolved)
        {
            Locked([&] { _instances.emplace_back(std::move(device), std::move(resolved)); });
        }
        // Removes every instance with this name.
        void Withdraw(const std::string& instanceName);
        void WithdrawAll() { Locked([this] { _instances.clear(); }); }
        // Tells every client's instance-found callback, on its event loop,
        // that the instance has appeared.
        void ReportFound(const DeviceInfo& device);
        // A successful resolve answers inside the Resolve call; from now on
        // it is held until ReleaseHeldResolves() instead.
        void HoldResolves() { Locked([this] { _holdResolves = true; }); }
        // Posts every held answer to its client's event loop.
        void ReleaseHeldResolves();
        std::size_t HeldResolveCount() const { return Locked([this] { return _held.size(); }); }
        std::vector<Call> Calls() const { return Locked([this] { return _calls; }); }
        // The arguments of the calls of one operation, in order.
        std::vector<std::string> Arguments(const std::string& operation) const;
        void ClearCalls() { Locked([this] { _calls.clear(); }); }
        // Clients alive.
        std::size_t ClientCount() const { return Locked([this] { return _clients.size(); }); }

    private:
        friend class FakeMDnsClient;

        mutable std::mutex _mutex;
        std::vector<std::pair<DeviceInfo, boost::optional<ServiceInfo>>> _instances;
        bool _holdResolves = false;
        std::vector<std::pair<boost::asio::io_service*, std::function<void()>>> _held;
        std::vector<Call> _calls;
        std::vector<FakeMDnsClient*> _clients;
    };

    FakeMDnsClient(boost::asio::io_service& ioService, std::shared_ptr<Network> network);
    ~FakeMDnsClient() override;

    // A factory whose clients all see this network.
    static MDnsFactory Factory(std::shared_ptr<Network> network);

    void Browse(const std::string& serviceType, BrowseCallback callback) override;
    void Resolve(const DeviceInfo& device, ResolveCallback callback) override;
    void SetInstanceFoundCallback(InstanceFoundCallback callback) override;

private:
    boost::asio::io_service& _ioService;
    std::shared_ptr<Network> _network;
    InstanceFoundCallback _instanceFound;  // guarded by the network's mutex
};

}  // namespace Testing
}  // namespace Keldra
