// Finds the base stations announced on the local network: while active, it
// lists the announced HTTPS services once every search period, resolves
// those named like a base station and reports each whose TXT record names the
// right vendor and model; a station announced in between is resolved at once.
// It keeps no list: every search reports every station it finds.
#pragma once

#include <memory>

#include <boost/asio/io_service.hpp>
#include <boost/chrono/system_clocks.hpp>

#include "MDnsFactory.h"
#include "ServiceInfo.h"
#include "support/Function.h"
#include "support/TimerFactory.h"

namespace Keldra {

class BaseStationDiscoveryService {
public:
    using DiscoveryCallback = Oru::function<void(std::shared_ptr<ServiceInfo>)>;
    using Duration = boost::chrono::steady_clock::duration;

    // The periodic search. Start and Stop may be called from any thread;
    // the search itself, the timer and the mDNS client are used on the event
    // loop's thread only, so the discovery callback runs there too.
    class BaseStationSearchBeacon {
    public:
        BaseStationSearchBeacon(const TimerFactory& timerFactory, const MDnsFactory& mDnsFactory, Duration period,
                                DiscoveryCallback discoveryCallback);
        BaseStationSearchBeacon(const BaseStationSearchBeacon&) = delete;
        BaseStationSearchBeacon& operator=(const BaseStationSearchBeacon&) = delete;
        // Stops the search; waits and resolves still under way complete
        // later and touch nothing.
        ~BaseStationSearchBeacon();

        // Searches at once (on the event loop: right here when called on
        // its thread, otherwise as soon as it gets there) and then once every
        // period; in between, a station the mDNS client reports as new is
        // resolved at once. Does nothing while active.
        void Start();
        // No search begins after Stop, and no result of an earlier one is
        // reported any more. Does nothing while inactive.
        void Stop();
        boost::asio::io_service& GetIoService();

    private:
        // What the completion handlers reach through a weak pointer, so that
        // a completion arriving after the beacon's destruction finds it gone.
        class Search;

        std::shared_ptr<Search> _search;
    };

    BaseStationDiscoveryService(const TimerFactory& timerFactory, const MDnsFactory& mDnsFactory, Duration period,
                                DiscoveryCallback discoveryCallback);

    void Start();
    void Stop();

private:
    BaseStationSearchBeacon _searchBeacon;
};

}  // namespace Keldra
