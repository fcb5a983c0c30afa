// A resolved service instance: where a base station is reached and what its
// TXT record says.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include <boost/asio/ip/address_v4.hpp>

namespace Keldra {

struct ServiceInfo {
    std::string name;      // the service instance name, e.g. "plavo-A1B2C3D4E5"
    std::string hostName;  // the host the service runs on, e.g. "plavo-A1B2C3D4E5.local"
    // IPv4 address in host byte order, as boost::asio::ip::address_v4 takes
    // it: 192.168.1.10 is 0xC0A8010A. (The mDNS client converts from the
    // network byte order of the wire.)
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    std::map<std::string, std::string> txt;  // TXT record, key to value

    friend bool operator==(const ServiceInfo& a, const ServiceInfo& b)
    {
        return a.name == b.name && a.hostName == b.hostName && a.address == b.address && a.port == b.port &&
               a.txt == b.txt;
    }
    friend bool operator!=(const ServiceInfo& a, const ServiceInfo& b) { return !(a == b); }

    // "name: a.b.c.d:port"
    friend std::ostream& operator<<(std::ostream& stream, const ServiceInfo& service)
    {
        return stream << service.name << ": " << boost::asio::ip::address_v4(service.address).to_string() << ':'
                      << service.port;
    }
};

}  // namespace Keldra
