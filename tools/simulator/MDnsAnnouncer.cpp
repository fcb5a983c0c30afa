#include "MDnsAnnouncer.h"

#include <sys/time.h>

#include <utility>

#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>

namespace Keldra {
namespace Simulation {

namespace {

constexpr int s_busRetrySeconds = 5;
constexpr int s_reconnectSeconds = 1;

std::string AvahiError(int code)
{
    return avahi_strerror(code);
}

}  // namespace

MDnsAnnouncer::MDnsAnnouncer(Announcement announcement, LogFunction log)
    : _announcement(std::move(announcement)), _log(std::move(log))
{
}

MDnsAnnouncer::~MDnsAnnouncer()
{
    Stop();
}

bool MDnsAnnouncer::Start(std::string& error)
{
    if (_started) {
        return true;
    }
    _poll = avahi_threaded_poll_new();
    if (_poll == nullptr) {
        error = "cannot create Avahi's event loop";
        return false;
    }
    const AvahiPoll* api = avahi_threaded_poll_get(_poll);
    _retry = api->timeout_new(api, nullptr, &MDnsAnnouncer::OnRetry, this);
    Connect();
    if (avahi_threaded_poll_start(_poll) < 0) {
        error = "cannot start Avahi's thread";
        Stop();
        return false;
    }
    _started = true;
    return true;
}

void MDnsAnnouncer::Stop()
{
    if (_poll == nullptr) {
        return;
    }
    if (_started) {
        avahi_threaded_poll_stop(_poll);
        _started = false;
    }
    if (_client != nullptr) {
        avahi_client_free(_client);  // frees the entry group too
        _client = nullptr;
        _group = nullptr;
    }
    if (_retry != nullptr) {
        const AvahiPoll* api = avahi_threaded_poll_get(_poll);
        api->timeout_free(_retry);
        _retry = nullptr;
    }
    avahi_threaded_poll_free(_poll);
    _poll = nullptr;
    _announced = false;
}

// Runs before Avahi's thread starts and later on it.
void MDnsAnnouncer::Connect()
{
    if (_client != nullptr) {
        avahi_client_free(_client);
        _client = nullptr;
        _group = nullptr;
    }
    int error = 0;
    AvahiClient* client = avahi_client_new(avahi_threaded_poll_get(_poll), AVAHI_CLIENT_NO_FAIL,
                                           &MDnsAnnouncer::OnClientState, this, &error);
    if (client == nullptr) {
        if (!_waitingReported) {
            Log("mDNS: cannot reach the D-Bus system bus (" + AvahiError(error) +
                "); running without "
                "announcement, retrying every " +
                std::to_string(s_busRetrySeconds) + " s");
            _waitingReported = true;
        }
        RetryLater(s_busRetrySeconds);
        return;
    }
    _client = client;
}

void MDnsAnnouncer::OnClientState(AvahiClient* client, AvahiClientState state, void* self)
{
    auto& announcer = *static_cast<MDnsAnnouncer*>(self);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        announcer._waitingReported = false;
        announcer.Register(client);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The daemon's host name changes; announce again once it runs.
        announcer._announced = false;
        if (announcer._group != nullptr) {
            avahi_entry_group_reset(announcer._group);
        }
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!announcer._waitingReported) {
            announcer.Log("mDNS: no avahi-daemon reachable; running without announcement until one appears");
            announcer._waitingReported = true;
        }
        break;
    case AVAHI_CLIENT_FAILURE:
        announcer._announced = false;
        announcer.Log("mDNS: lost the avahi-daemon (" + AvahiError(avahi_client_errno(client)) +
                      "); announcing again when it is back");
        announcer._waitingReported = true;
        // The client cannot be freed inside its own callback.
        announcer.RetryLater(s_reconnectSeconds);
        break;
    }
}

void MDnsAnnouncer::Register(AvahiClient* client)
{
    if (_group == nullptr) {
        _group = avahi_entry_group_new(client, &MDnsAnnouncer::OnGroupState, this);
        if (_group == nullptr) {
            Log("mDNS: cannot create an entry group: " + AvahiError(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(_group)) {
        return;
    }
    const char* host = nullptr;
    std::string hostName;
    if (_announcement.ipv4Address) {
        AvahiAddress address;
        hostName = _announcement.instanceName + ".local";
        if (avahi_address_parse(_announcement.ipv4Address->c_str(), AVAHI_PROTO_INET, &address) == nullptr) {
            Log("mDNS: cannot announce the address " + *_announcement.ipv4Address);
            return;
        }
        const int error = avahi_entry_group_add_address(_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                                        AVAHI_PUBLISH_NO_REVERSE, hostName.c_str(), &address);
        if (error < 0) {
            Log("mDNS: cannot announce " + hostName + " at " + *_announcement.ipv4Address + ": " + AvahiError(error));
            return;
        }
        host = hostName.c_str();
    }
    // Avahi keeps the list newest first and sends it oldest first.
    AvahiStringList* txt = nullptr;
    for (const std::string& entry : _announcement.txt) {
        txt = avahi_string_list_add(txt, entry.c_str());
    }
    int error = avahi_entry_group_add_service_strlst(_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags(0),
                                                     _announcement.instanceName.c_str(), s_serviceType, nullptr, host,
                                                     _announcement.port, txt);
    avahi_string_list_free(txt);
    if (error == 0) {
        error = avahi_entry_group_commit(_group);
    }
    if (error < 0) {
        Log("mDNS: cannot announce \"" + _announcement.instanceName + "\": " + AvahiError(error));
    }
}

void MDnsAnnouncer::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
{
    auto& announcer = *static_cast<MDnsAnnouncer*>(self);
    const std::string name = "\"" + announcer._announcement.instanceName + "\"";
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        announcer._announced = true;
        announcer.Log("mDNS: announced " + name + " (" + s_serviceType + ", port " +
                      std::to_string(announcer._announcement.port) + ")");
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        announcer._announced = false;
        announcer.Log("mDNS: the name " + name + " is already announced by another station; not announced");
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        announcer._announced = false;
        announcer.Log("mDNS: announcing " + name +
                      " failed: " + AvahiError(avahi_client_errno(avahi_entry_group_get_client(group))));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void MDnsAnnouncer::OnRetry(AvahiTimeout*, void* self)
{
    static_cast<MDnsAnnouncer*>(self)->Connect();
}

void MDnsAnnouncer::RetryLater(int seconds)
{
    if (_retry == nullptr) {
        return;
    }
    struct timeval when;
    avahi_elapse_time(&when, static_cast<unsigned>(seconds) * 1000, 0);
    avahi_threaded_poll_get(_poll)->timeout_update(_retry, &when);
}

void MDnsAnnouncer::Log(const std::string& message)
{
    if (_log) {
        _log(message);
    }
}

}  // namespace Simulation
}  // namespace Keldra
