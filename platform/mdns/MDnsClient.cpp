#include "MDnsClient.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "AvahiAsioPoll.h"
#include "platform/host/OruLogging.h"

namespace Oru {
namespace {

using Keldra::DeviceInfo;
using Keldra::ServiceInfo;
using AvahiLock = std::lock_guard<std::recursive_mutex>;

const std::string BaseStationServiceType = "_https._tcp";

// How long to wait before connecting again when the daemon (or D-Bus) could
// not be reached or the connection failed.
constexpr std::chrono::seconds ReconnectDelay(2);

bool IsSameInstance(const DeviceInfo& a, const DeviceInfo& b)
{
    return a.name == b.name && a.type == b.type && a.domain == b.domain;
}

std::map<std::string, std::string> ParseTxt(AvahiStringList* txt)
{
    std::map<std::string, std::string> entries;
    for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
        char* key = nullptr;
        char* value = nullptr;
        std::size_t size = 0;
        if (avahi_string_list_get_pair(item, &key, &value, &size) < 0) {
            continue;
        }
        std::string keyText = key != nullptr ? key : "";
        std::string valueText = value != nullptr ? std::string(value, size) : std::string();
        avahi_free(key);
        avahi_free(value);
        // "key" without "=" has no value; of a repeated key the first counts.
        if (!keyText.empty()) {
            entries.emplace(std::move(keyText), std::move(valueText));
        }
    }
    return entries;
}

}  // namespace

// Everything the client shares with the handlers on the event loop; it lives
// until the last of them is done. Avahi objects are touched only with the
// Avahi lock held; the browse cache has its own mutex, taken after the Avahi
// lock when both are needed.
class MDnsClient::SharedState : public std::enable_shared_from_this<SharedState> {
public:
    explicit SharedState(boost::asio::io_service& ioService)
        : _ioService(ioService), _poll(ioService), _retryTimer(ioService), _serviceTypes{BaseStationServiceType}
    {
    }

    ~SharedState() { Close(); }

    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    void Open()
    {
        boost::asio::dispatch(_ioService, [self = shared_from_this()]() {
            AvahiLock lock(self->_poll.GetMutex());
            self->Connect();
        });
    }

    // Frees every Avahi object; no callback is made afterwards. Any thread.
    void Close()
    {
        AvahiLock lock(_poll.GetMutex());
        if (_closed.exchange(true)) {
            return;
        }
        boost::system::error_code ignored;
        _retryTimer.cancel(ignored);
        FreeClient();
    }

    // The instances of the type known now, one per instance, in the order
    // they were found. Any thread.
    std::vector<DeviceInfo> Browse(const std::string& serviceType)
    {
        std::vector<DeviceInfo> known;
        bool newType = false;
        {
            std::lock_guard<std::mutex> lock(_cacheMutex);
            newType = _serviceTypes.insert(serviceType).second;
            const auto entry = _cache.find(serviceType);
            if (entry != _cache.end()) {
                for (const auto& device : entry->second) {
                    if (std::none_of(known.begin(), known.end(),
                                     [&device](const DeviceInfo& other) { return IsSameInstance(device, other); })) {
                        known.push_back(device);
                    }
                }
            }
        }
        if (newType) {
            boost::asio::post(_ioService, [self = shared_from_this()]() {
                AvahiLock lock(self->_poll.GetMutex());
                self->StartBrowsers();
            });
        }
        return known;
    }

    void Resolve(const DeviceInfo& device, ResolveCallback callback)
    {
        boost::asio::dispatch(_ioService, [self = shared_from_this(), device, callback]() {
            AvahiLock lock(self->_poll.GetMutex());
            self->StartResolve(device, callback);
        });
    }

    void SetInstanceFoundCallback(InstanceFoundCallback callback)
    {
        std::lock_guard<std::mutex> lock(_cacheMutex);
        _instanceFound = std::move(callback);
    }

private:
    struct PendingResolve {
        DeviceInfo device;
        ResolveCallback callback;
    };

    void Connect()
    {
        if (_closed || _client != nullptr) {
            return;
        }
        int error = AVAHI_OK;
        // The state callback runs inside avahi_client_new already and
        // stores the client there.
        AvahiClient* client = avahi_client_new(_poll.GetApi(), AVAHI_CLIENT_NO_FAIL, &SharedState::OnClientState,
                                               this, &error);
        if (client == nullptr) {
            // avahi_client_new has freed what the callback may have seen.
            _client = nullptr;
            _browsers.clear();
            _resolves.clear();
            OnDaemonUnavailable(avahi_strerror(error));
            ScheduleRetry();
            return;
        }
        _client = client;
    }

    void FreeClient()
    {
        if (_client != nullptr) {
            // Frees the browsers and resolvers too.
            avahi_client_free(_client);
            _client = nullptr;
        }
        _browsers.clear();
        DropResolves();
        _connected = false;
        _failed = false;
        ClearCache();
    }

    void ScheduleRetry()
    {
        if (_closed) {
            return;
        }
        _retryTimer.expires_after(ReconnectDelay);
        _retryTimer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
            AvahiLock lock(self->_poll.GetMutex());
            if (!error && !self->_closed) {
                self->Retry();
            }
        });
    }

    void Retry()
    {
        if (_failed) {
            FreeClient();
        }
        if (_client == nullptr) {
            Connect();
        } else if (_connected) {
            StartBrowsers();
        }
    }

    static void OnClientState(AvahiClient* client, AvahiClientState state, void* userdata)
    {
        auto& self = *static_cast<SharedState*>(userdata);
        self._client = client;
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            self.OnDaemonAvailable();
            break;
        case AVAHI_CLIENT_CONNECTING:
            self.OnDaemonUnavailable(avahi_strerror(AVAHI_ERR_NO_DAEMON));
            break;
        case AVAHI_CLIENT_FAILURE:
            // The client is dead; it is replaced outside of its callback.
            self._failed = true;
            self.OnDaemonUnavailable(avahi_strerror(avahi_client_errno(client)));
            self.ScheduleRetry();
            break;
        }
    }

    void OnDaemonAvailable()
    {
        if (_connected) {
            return;
        }
        _connected = true;
        if (_unavailableReported) {
            _unavailableReported = false;
            ORU_LOG_INFO("The Avahi daemon is available again; mDNS discovery resumes");
        } else {
            ORU_LOG_INFO("Connected to the Avahi daemon");
        }
        // Not from inside the state callback, which may run inside
        // avahi_client_new.
        boost::asio::post(_ioService, [self = shared_from_this()]() {
            AvahiLock lock(self->_poll.GetMutex());
            self->StartBrowsers();
        });
    }

    void OnDaemonUnavailable(const char* reason)
    {
        const bool wasConnected = _connected;
        _connected = false;
        for (const auto& browser : _browsers) {
            avahi_service_browser_free(browser.first);
        }
        _browsers.clear();
        for (const auto& resolve : _resolves) {
            avahi_service_resolver_free(resolve.first);
        }
        DropResolves();
        ClearCache();
        if (wasConnected) {
            _unavailableReported = true;
            ORU_LOG_WARN("Lost the Avahi daemon (" << reason << "); no base station can be discovered until it is back");
        } else if (!_unavailableReported) {
            _unavailableReported = true;
            ORU_LOG_WARN("The Avahi daemon is not available (" << reason
                                                               << "); no base station can be discovered until it is");
        }
    }

    void DropResolves()
    {
        for (const auto& resolve : _resolves) {
            ORU_LOG_DEBUG("Resolving " << resolve.second.device << " abandoned: the Avahi daemon is not available");
        }
        _resolves.clear();
    }

    void ClearCache()
    {
        std::lock_guard<std::mutex> lock(_cacheMutex);
        _cache.clear();
    }

    void StartBrowsers()
    {
        if (_closed || _client == nullptr || !_connected) {
            return;
        }
        std::set<std::string> serviceTypes;
        {
            std::lock_guard<std::mutex> lock(_cacheMutex);
            serviceTypes = _serviceTypes;
        }
        bool failed = false;
        for (const auto& serviceType : serviceTypes) {
            const bool running = std::any_of(_browsers.begin(), _browsers.end(), [&serviceType](const auto& browser) {
                return browser.second == serviceType;
            });
            if (running) {
                continue;
            }
            AvahiServiceBrowser* browser =
                avahi_service_browser_new(_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, serviceType.c_str(), nullptr,
                                          static_cast<AvahiLookupFlags>(0), &SharedState::OnBrowserEvent, this);
            if (browser == nullptr) {
                ORU_LOG_WARN("Cannot browse for " << serviceType << ": " << avahi_strerror(avahi_client_errno(_client)));
                failed = true;
                continue;
            }
            ORU_LOG_DEBUG("Browsing for " << serviceType);
            _browsers.emplace(browser, serviceType);
        }
        if (failed) {
            ScheduleRetry();
        }
    }

    static void OnBrowserEvent(AvahiServiceBrowser* browser, AvahiIfIndex interfaceIndex, AvahiProtocol,
                               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                               AvahiLookupResultFlags, void* userdata)
    {
        auto& self = *static_cast<SharedState*>(userdata);
        const auto entry = self._browsers.find(browser);
        if (entry == self._browsers.end()) {
            return;
        }
        const std::string serviceType = entry->second;
        switch (event) {
        case AVAHI_BROWSER_NEW:
        case AVAHI_BROWSER_REMOVE: {
            if (name == nullptr || type == nullptr || domain == nullptr) {
                return;
            }
            const DeviceInfo device{name, type, domain, interfaceIndex};
            std::lock_guard<std::mutex> lock(self._cacheMutex);
            auto& devices = self._cache[serviceType];
            const auto known = std::find(devices.begin(), devices.end(), device);
            if (event == AVAHI_BROWSER_NEW && known == devices.end()) {
                ORU_LOG_DEBUG("Found " << device);
                const bool firstSighting =
                    std::none_of(devices.begin(), devices.end(),
                                 [&device](const DeviceInfo& other) { return IsSameInstance(device, other); });
                devices.push_back(device);
                if (firstSighting) {
                    self.NotifyInstanceFound(device);
                }
            } else if (event == AVAHI_BROWSER_REMOVE && known != devices.end()) {
                ORU_LOG_DEBUG("Gone: " << device);
                devices.erase(known);
            }
            break;
        }
        case AVAHI_BROWSER_FAILURE: {
            ORU_LOG_WARN("Browsing for " << serviceType << " failed: "
                                         << avahi_strerror(avahi_client_errno(avahi_service_browser_get_client(browser))));
            self._browsers.erase(entry);
            avahi_service_browser_free(browser);
            {
                std::lock_guard<std::mutex> lock(self._cacheMutex);
                self._cache.erase(serviceType);
            }
            self.ScheduleRetry();
            break;
        }
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    // With the cache mutex held; the callback runs later, without it.
    void NotifyInstanceFound(const DeviceInfo& device)
    {
        if (!_instanceFound) {
            return;
        }
        boost::asio::post(_ioService, [self = shared_from_this(), device]() {
            InstanceFoundCallback callback;
            {
                std::lock_guard<std::mutex> lock(self->_cacheMutex);
                callback = self->_instanceFound;
            }
            if (callback && !self->_closed) {
                callback(device);
            }
        });
    }

    void StartResolve(const DeviceInfo& device, const ResolveCallback& callback)
    {
        if (_closed) {
            return;
        }
        if (_client == nullptr || !_connected) {
            ORU_LOG_DEBUG("Cannot resolve " << device << ": the Avahi daemon is not available");
            return;
        }
        const AvahiIfIndex interfaceIndex = device.interfaceIndex > 0 ? device.interfaceIndex : AVAHI_IF_UNSPEC;
        AvahiServiceResolver* resolver = avahi_service_resolver_new(
            _client, interfaceIndex, AVAHI_PROTO_INET, device.name.c_str(), device.type.c_str(),
            device.domain.empty() ? nullptr : device.domain.c_str(), AVAHI_PROTO_INET,
            static_cast<AvahiLookupFlags>(0), &SharedState::OnResolverEvent, this);
        if (resolver == nullptr) {
            ORU_LOG_DEBUG("Cannot resolve " << device << ": " << avahi_strerror(avahi_client_errno(_client)));
            return;
        }
        _resolves.emplace(resolver, PendingResolve{device, callback});
    }

    static void OnResolverEvent(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                                AvahiResolverEvent event, const char* name, const char*, const char*,
                                const char* hostName, const AvahiAddress* address, std::uint16_t port,
                                AvahiStringList* txt, AvahiLookupResultFlags, void* userdata)
    {
        auto& self = *static_cast<SharedState*>(userdata);
        const auto entry = self._resolves.find(resolver);
        if (entry == self._resolves.end()) {
            avahi_service_resolver_free(resolver);
            return;
        }
        PendingResolve request = std::move(entry->second);
        self._resolves.erase(entry);

        if (event != AVAHI_RESOLVER_FOUND) {
            ORU_LOG_DEBUG("Failed to resolve "
                          << request.device << ": "
                          << avahi_strerror(avahi_client_errno(avahi_service_resolver_get_client(resolver))));
            avahi_service_resolver_free(resolver);
            return;
        }
        if (address == nullptr || address->proto != AVAHI_PROTO_INET) {
            ORU_LOG_DEBUG("Failed to resolve " << request.device << ": no IPv4 address");
            avahi_service_resolver_free(resolver);
            return;
        }
        ServiceInfo service;
        service.name = name != nullptr ? name : request.device.name;
        service.hostName = hostName != nullptr ? hostName : "";
        service.address = ntohl(address->data.ipv4.address);
        service.port = port;
        service.txt = ParseTxt(txt);
        avahi_service_resolver_free(resolver);

        ORU_LOG_DEBUG("Resolved " << service);
        boost::asio::post(self._ioService, [self = self.shared_from_this(), callback = std::move(request.callback),
                                            service = std::move(service)]() mutable {
            if (!self->_closed) {
                callback(std::move(service));
            }
        });
    }

    boost::asio::io_service& _ioService;
    AvahiAsioPoll _poll;
    boost::asio::steady_timer _retryTimer;
    std::atomic<bool> _closed{false};

    // With the Avahi lock held:
    AvahiClient* _client = nullptr;
    bool _connected = false;            // the daemon answers
    bool _failed = false;               // _client is dead and must be replaced
    bool _unavailableReported = false;  // the warning has been logged
    std::map<AvahiServiceBrowser*, std::string> _browsers;
    std::map<AvahiServiceResolver*, PendingResolve> _resolves;

    // With the cache mutex held:
    std::mutex _cacheMutex;
    std::set<std::string> _serviceTypes;
    std::map<std::string, std::vector<DeviceInfo>> _cache;
    InstanceFoundCallback _instanceFound;
};

MDnsClient::MDnsClient(boost::asio::io_service& ioService) : _state(std::make_shared<SharedState>(ioService))
{
    _state->Open();
}

MDnsClient::~MDnsClient() { _state->Close(); }

void MDnsClient::Browse(const std::string& serviceType, BrowseCallback callback)
{
    for (auto& device : _state->Browse(serviceType)) {
        callback(std::move(device));
    }
}

void MDnsClient::Resolve(const Keldra::DeviceInfo& device, ResolveCallback callback)
{
    _state->Resolve(device, std::move(callback));
}

void MDnsClient::SetInstanceFoundCallback(InstanceFoundCallback callback)
{
    _state->SetInstanceFoundCallback(std::move(callback));
}

}  // namespace Oru
