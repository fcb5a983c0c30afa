// A service instance as the mDNS client lists it: enough to ask the client
// to resolve it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace Keldra {

struct DeviceInfo {
    std::string name;                // the service instance name, e.g. "plavo-A1B2C3D4E5"
    std::string type;                // the service type, e.g. "_https._tcp"
    std::string domain;              // e.g. "local"
    std::int32_t interfaceIndex = 0; // the network interface the instance was seen on

    friend bool operator==(const DeviceInfo& a, const DeviceInfo& b)
    {
        return a.name == b.name && a.type == b.type && a.domain == b.domain && a.interfaceIndex == b.interfaceIndex;
    }
    friend bool operator!=(const DeviceInfo& a, const DeviceInfo& b) { return !(a == b); }

    // "name (type.domain, interface n)"
    friend std::ostream& operator<<(std::ostream& stream, const DeviceInfo& device)
    {
        return stream << device.name << " (" << device.type << '.' << device.domain << ", interface "
                      << device.interfaceIndex << ')';
    }
};

}  // namespace Keldra
