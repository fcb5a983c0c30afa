// The plug-in's mDNS (DNS-SD) client: lists and resolves service instances
// through the Avahi daemon, on the plug-in's event loop.
#pragma once

#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>

#include "discovery/IMDnsClient.h"

namespace Oru {

// Browsing answers from a cache: an Avahi service browser for "_https._tcp"
// runs from the moment the daemon is reached and keeps the list of instances
// up to date, so Browse delivers every instance known at the time of the call
// before it returns. The first Browse for another service type starts a
// browser for that type and delivers nothing; later calls deliver what it
// has found. An instance seen on several interfaces is delivered once.
// The instance-found callback hears of each instance when the daemon first
// reports it (again after a reconnection), on the event loop.
//
// Resolve asks the daemon for the instance's IPv4 address, port and TXT
// record and calls back on the event loop; a failed resolve (timeout, no
// IPv4 address, daemon away) is logged at debug level and never called back.
//
// The daemon may be missing, stop or restart at any time: the client waits
// for it and reconnects, browsing finds nothing meanwhile.
//
// Threads: all work with Avahi runs on the io_service, under the Avahi lock
// (AvahiAsioPoll); Browse may also be called from another thread (the cache
// has a mutex of its own and the browser for a new type is started on the
// event loop). Callbacks never run with a lock of the client held. No
// callback is made after the client is destroyed.
class MDnsClient final : public Keldra::IMDnsClient {
public:
    explicit MDnsClient(boost::asio::io_service& ioService);
    ~MDnsClient() override;
    MDnsClient(const MDnsClient&) = delete;
    MDnsClient& operator=(const MDnsClient&) = delete;

    void Browse(const std::string& serviceType, BrowseCallback callback) override;
    void Resolve(const Keldra::DeviceInfo& device, ResolveCallback callback) override;
    void SetInstanceFoundCallback(InstanceFoundCallback callback) override;

    class SharedState;

private:
    std::shared_ptr<SharedState> _state;
};

}  // namespace Oru
