// What discovery asks of an mDNS (DNS-SD) client: list the instances of a
// service type, and resolve one of them.
#pragma once

#include <string>

#include "DeviceInfo.h"
#include "ServiceInfo.h"
#include "support/Function.h"

namespace Keldra {

class IMDnsClient {
public:
    using BrowseCallback = Oru::function<void(DeviceInfo&&)>;
    using ResolveCallback = Oru::function<void(ServiceInfo&&)>;
    using InstanceFoundCallback = Oru::function<void(const DeviceInfo&)>;

    virtual ~IMDnsClient() = default;

    // Calls the callback once for every instance of the service type known
    // on the network, before it returns.
    virtual void Browse(const std::string& serviceType, BrowseCallback callback) = 0;

    // Calls the callback with the resolved instance, at once or later on the
    // io_service's thread; not at all when resolving fails.
    virtual void Resolve(const DeviceInfo& device, ResolveCallback callback) = 0;

    // Calls the callback on the io_service's thread whenever an instance of a
    // service type that Browse was asked for appears on the network, so that
    // a new instance can be resolved at once instead of at the next Browse.
    // Replaces the callback set before; none is called after destruction.
    virtual void SetInstanceFoundCallback(InstanceFoundCallback callback) = 0;
};

}  // namespace Keldra
