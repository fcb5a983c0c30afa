// Announces the simulated station over mDNS through the Avahi daemon, as a
// station does: an "_https._tcp" service named "plavo-" + station ID with
// its vendor and model in the TXT record. Runs on Avahi's own thread, keeps
// going while no daemon is reachable and announces again when one appears.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>

namespace Keldra {
namespace Simulation {

class MDnsAnnouncer {
public:
    struct Announcement {
        std::string instanceName;
        std::uint16_t port = 443;
        std::vector<std::string> txt;  // "key=value"
        // When set, the service points to a host record of its own with
        // this IPv4 address instead of the machine's host name.
        std::optional<std::string> ipv4Address;
    };
    using LogFunction = std::function<void(const std::string&)>;

    static constexpr const char* s_serviceType = "_https._tcp";

    MDnsAnnouncer(Announcement announcement, LogFunction log);
    ~MDnsAnnouncer();
    MDnsAnnouncer(const MDnsAnnouncer&) = delete;
    MDnsAnnouncer& operator=(const MDnsAnnouncer&) = delete;

    // Starts Avahi's thread; false (with the reason) only when that fails.
    // A missing daemon is no failure.
    bool Start(std::string& error);
    void Stop();

    // The daemon confirmed the announcement.
    bool IsAnnounced() const { return _announced.load(); }

private:
    static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
    static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
    static void OnRetry(AvahiTimeout* timeout, void* self);

    void Connect();
    void Register(AvahiClient* client);
    void RetryLater(int seconds);
    void Log(const std::string& message);

    Announcement _announcement;
    LogFunction _log;
    AvahiThreadedPoll* _poll = nullptr;
    AvahiClient* _client = nullptr;
    AvahiEntryGroup* _group = nullptr;
    AvahiTimeout* _retry = nullptr;
    std::atomic<bool> _announced{false};
    bool _waitingReported = false;
    bool _started = false;
};

}  // namespace Simulation
}  // namespace Keldra
