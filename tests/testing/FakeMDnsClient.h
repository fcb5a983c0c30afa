// A scripted mDNS client for tests. The services it sees on the network are
// set through a Network object that the test keeps while the client itself
// belongs to the code under test; the Network also records the calls.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
    public:
        // How a successful resolve answers: inside the Resolve call, posted
        // to the client's event loop, or held until ReleaseHeldResolves().
        enum class ResolveDelivery { Immediately, Posted, Held };

        struct Call {
            std::string operation;  // "Browse" or "Resolve"
            std::string argument;   // the service type or the instance name
            std::thread::id thread;
        };

        // An instance that Browse lists for its service type; resolving it
        // yields the service, or nothing when resolved is empty.
        void Announce(DeviceInfo device, boost::optional<ServiceInfo> resolved);
        // Removes every instance with this name.
        void Withdraw(const std::string& instanceName);
        void WithdrawAll();
        // Tells every client's instance-found callback, on its event loop,
        // that the instance has appeared (as a real client does when the
        // daemon first reports it).
        void ReportFound(const DeviceInfo& device);

        void SetResolveDelivery(ResolveDelivery delivery);
        // Posts every held answer to its client's event loop; returns how many.
        std::size_t ReleaseHeldResolves();
        std::size_t HeldResolveCount() const;

        std::vector<Call> Calls() const;
        // The arguments of the calls of one operation, in order.
        std::vector<std::string> Arguments(const std::string& operation) const;
        void ClearCalls();
        // Clients alive.
        std::size_t ClientCount() const;

    private:
        friend class FakeMDnsClient;

        struct Instance {
            DeviceInfo device;
            boost::optional<ServiceInfo> resolved;
        };
        struct HeldResolve {
            boost::asio::io_service* ioService;
            ResolveCallback callback;
            ServiceInfo service;
        };

        struct Watcher {
            const FakeMDnsClient* client;
            boost::asio::io_service* ioService;
            InstanceFoundCallback callback;
        };

        // With the mutex held.
        void ForgetWatcher(const FakeMDnsClient* client);

        mutable std::mutex _mutex;
        std::vector<Watcher> _watchers;
        std::vector<Instance> _instances;
        ResolveDelivery _delivery = ResolveDelivery::Immediately;
        std::vector<HeldResolve> _held;
        std::vector<Call> _calls;
        std::size_t _clientCount = 0;
    };

    FakeMDnsClient(boost::asio::io_service& ioService, std::shared_ptr<Network> network);
    FakeMDnsClient(const FakeMDnsClient&) = delete;
    FakeMDnsClient& operator=(const FakeMDnsClient&) = delete;
    ~FakeMDnsClient() override;

    // A factory whose clients all see this network.
    static MDnsFactory Factory(std::shared_ptr<Network> network);

    void Browse(const std::string& serviceType, BrowseCallback callback) override;
    void Resolve(const DeviceInfo& device, ResolveCallback callback) override;
    void SetInstanceFoundCallback(InstanceFoundCallback callback) override;

private:
    boost::asio::io_service& _ioService;
    std::shared_ptr<Network> _network;
};

}  // namespace Testing
}  // namespace Keldra
