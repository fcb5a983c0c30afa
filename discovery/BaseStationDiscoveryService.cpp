#include "BaseStationDiscoveryService.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/dispatch.hpp>

#include "platform/host/OruLogging.h"
#include "support/Assert.h"

namespace Keldra {
namespace {

const std::string ServiceType = "_https._tcp";
const std::string InstanceNamePrefix = "plavo-";
const std::string VendorKey = "Vendor";
const std::string Vendor = "Keldra";
const std::string ModelKey = "Model";
const std::string Model = "Brisgo";

bool IsBaseStationName(const std::string& instanceName)
{
    return instanceName.size() >= InstanceNamePrefix.size() &&
           instanceName.compare(0, InstanceNamePrefix.size(), InstanceNamePrefix) == 0;
}

bool HasEntry(const std::map<std::string, std::string>& txt, const std::string& key, const std::string& value)
{
    const auto entry = txt.find(key);
    return entry != txt.end() && entry->second == value;
}

bool IsBaseStationRecord(const std::map<std::string, std::string>& txt)
{
    return HasEntry(txt, VendorKey, Vendor) && HasEntry(txt, ModelKey, Model);
}

}  // namespace

// Start and Stop may come from any thread; everything else runs on the event
// loop. The one atomic counter tells both apart: it is odd while the search
// is active and moves on by one with every Start and every Stop that changes
// the state, so each active period has a number of its own. A wait, a
// queued search or a resolve answer carries the number of the period it
// belongs to and is dropped when that period is over, even when the search
// was started again in between.
class BaseStationDiscoveryService::BaseStationSearchBeacon::Search : public std::enable_shared_from_this<Search> {
public:
    using Activation = std::uint64_t;

    Search(const TimerFactory& timerFactory, const MDnsFactory& mDnsFactory, Duration period,
           DiscoveryCallback discoveryCallback)
        : _nextBroadcast(timerFactory()), _period(period), _discoveryCallback(std::move(discoveryCallback))
    {
        ORU_ASSERT2(_nextBroadcast != nullptr);
        _ioService = &_nextBroadcast->get_io_service();
        _mDnsClient = mDnsFactory(*_ioService);
        ORU_ASSERT2(_mDnsClient != nullptr);
        ORU_ASSERT2(_discoveryCallback);
    }

    ~Search()
    {
        // The timer goes first: its pending wait ends as cancelled.
        _nextBroadcast.reset();
        _mDnsClient.reset();
    }

    void Start()
    {
        Activation activation = _activation.load();
        do {
            if (IsActive(activation)) {
                return;
            }
        } while (!_activation.compare_exchange_weak(activation, activation + 1));
        boost::asio::dispatch(*_ioService, [weakSearch = weak_from_this(), activation = activation + 1]() {
            if (const auto search = weakSearch.lock()) {
                search->ContinueSearch(activation);
            }
        });
    }

    void Stop()
    {
        Activation activation = _activation.load();
        do {
            if (!IsActive(activation)) {
                return;
            }
        } while (!_activation.compare_exchange_weak(activation, activation + 1));
        boost::asio::dispatch(*_ioService, [weakSearch = weak_from_this(), activation = activation + 1]() {
            const auto search = weakSearch.lock();
            // After a restart the timer belongs to the new search.
            if (search && search->_activation.load() == activation) {
                search->_nextBroadcast->cancel();
            }
        });
    }

    boost::asio::io_service& GetIoService() { return *_ioService; }

    // Deliberate: a new station is resolved at once, not at the next search.
    // A station that appears between two searches is resolved at once: at
    // start-up the first search usually runs before the mDNS client has
    // heard from the network, and the station would wait a whole period.
    void ResolveNewInstancesAtOnce()
    {
        _mDnsClient->SetInstanceFoundCallback([weakSearch = weak_from_this()](const DeviceInfo& device) {
            if (const auto search = weakSearch.lock()) {
                search->OnInstanceFound(device);
            }
        });
    }

private:
    static bool IsActive(Activation activation) { return activation % 2 == 1; }

    bool IsCurrent(Activation activation) const { return _activation.load() == activation; }

    // One search: list, resolve, wait for the next.
    void ContinueSearch(Activation activation)
    {
        if (!IsCurrent(activation)) {
            return;
        }
        for (const auto& device : SendSearchRequest()) {
            Resolve(device, activation);
        }
        WaitForNextSearch(activation);
    }

    void OnInstanceFound(const DeviceInfo& device)
    {
        const Activation activation = _activation.load();
        if (IsActive(activation) && IsBaseStationName(device.name)) {
            Resolve(device, activation);
        }
    }

    std::vector<DeviceInfo> SendSearchRequest()
    {
        // Shared with the callback, in case a client delivered after
        // returning: such late records are dropped.
        const auto devices = std::make_shared<std::vector<DeviceInfo>>();
        _mDnsClient->Browse(ServiceType, [devices](DeviceInfo&& device) {
            if (IsBaseStationName(device.name)) {
                devices->push_back(std::move(device));
            }
        });
        return std::exchange(*devices, {});
    }

    void Resolve(const DeviceInfo& device, Activation activation)
    {
        _mDnsClient->Resolve(device, [weakSearch = weak_from_this(), activation](ServiceInfo&& service) {
            if (const auto search = weakSearch.lock()) {
                search->OnResolved(activation, std::move(service));
            }
        });
    }

    void OnResolved(Activation activation, ServiceInfo&& service)
    {
        if (!IsCurrent(activation) || !IsBaseStationRecord(service.txt)) {
            return;
        }
        _discoveryCallback(std::make_shared<ServiceInfo>(std::move(service)));
    }

    void WaitForNextSearch(Activation activation)
    {
        if (!IsCurrent(activation)) {
            return;
        }
        _nextBroadcast->expires_from_now(_period);
        _nextBroadcast->async_wait([weakSearch = weak_from_this(), activation](const boost::system::error_code& error) {
            if (error) {
                return;
            }
            if (const auto search = weakSearch.lock()) {
                search->ContinueSearch(activation);
            }
        });
    }

    std::unique_ptr<Oru::WaitableTimer> _nextBroadcast;
    boost::asio::io_service* _ioService = nullptr;
    Duration _period;
    std::atomic<Activation> _activation{0};
    std::unique_ptr<IMDnsClient> _mDnsClient;
    DiscoveryCallback _discoveryCallback;
};

BaseStationDiscoveryService::BaseStationSearchBeacon::BaseStationSearchBeacon(const TimerFactory& timerFactory,
                                                                              const MDnsFactory& mDnsFactory,
                                                                              Duration period,
                                                                              DiscoveryCallback discoveryCallback)
    : _search(std::make_shared<Search>(timerFactory, mDnsFactory, period, std::move(discoveryCallback)))
{
    _search->ResolveNewInstancesAtOnce();
}

BaseStationDiscoveryService::BaseStationSearchBeacon::~BaseStationSearchBeacon() { _search->Stop(); }

void BaseStationDiscoveryService::BaseStationSearchBeacon::Start() { _search->Start(); }

void BaseStationDiscoveryService::BaseStationSearchBeacon::Stop() { _search->Stop(); }

boost::asio::io_service& BaseStationDiscoveryService::BaseStationSearchBeacon::GetIoService()
{
    return _search->GetIoService();
}

BaseStationDiscoveryService::BaseStationDiscoveryService(const TimerFactory& timerFactory,
                                                         const MDnsFactory& mDnsFactory, Duration period,
                                                         DiscoveryCallback discoveryCallback)
    : _searchBeacon(timerFactory, mDnsFactory, period, std::move(discoveryCallback))
{
}

void BaseStationDiscoveryService::Start()
{
    ORU_LOG_INFO("Start base station discovery");
    _searchBeacon.Start();
}

void BaseStationDiscoveryService::Stop()
{
    _searchBeacon.Stop();
    // Kept on purpose: logged after the manager's "... if in progress" line.
    ORU_LOG_INFO("Stop base station discovery");
}

}  // namespace Keldra
