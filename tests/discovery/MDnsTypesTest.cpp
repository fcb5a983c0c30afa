#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

#include "discovery/DeviceInfo.h"
#include "discovery/IMDnsClient.h"  // compiles on its own
#include "discovery/ServiceInfo.h"

using namespace Keldra;

namespace {

template <typename T>
std::string Print(const T& value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

ServiceInfo Station()
{
    return {"plavo-A1B2C3D4E5", "plavo-A1B2C3D4E5.local", 0xC0A8010Au, 8443, {{"Vendor", "Keldra"}, {"Model", "Brisgo"}}};
}

TEST(ServiceInfo, PrintsNameAddressAndPort)
{
    struct Case {
        std::uint32_t address;
        std::uint16_t port;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0xC0A8010Au, 443, "plavo-A1B2C3D4E5: 192.168.1.10:443"},
        {0x7F000001u, 8443, "plavo-A1B2C3D4E5: 127.0.0.1:8443"},
        {0u, 0, "plavo-A1B2C3D4E5: 0.0.0.0:0"},
        {0xFFFFFFFFu, 65535, "plavo-A1B2C3D4E5: 255.255.255.255:65535"},
        {0x0A000102u, 1, "plavo-A1B2C3D4E5: 10.0.1.2:1"},
    };
    for (const auto& testCase : cases) {
        ServiceInfo service = Station();
        service.address = testCase.address;
        service.port = testCase.port;
        EXPECT_EQ(Print(service), testCase.text);
    }
}

TEST(ServiceInfo, AddressIsInTheByteOrderOfAsio)
{
    ServiceInfo service = Station();
    service.address = boost::asio::ip::make_address_v4("192.168.1.10").to_uint();
    EXPECT_EQ(service.address, 0xC0A8010Au);
    EXPECT_EQ(boost::asio::ip::address_v4(service.address).to_string(), "192.168.1.10");
}

TEST(ServiceInfo, ComparesEveryFieldAndEveryTxtEntry)
{
    struct Change {
        const char* field;
        std::function<void(ServiceInfo&)> apply;
    };
    const std::vector<Change> changes = {
        {"name", [](ServiceInfo& s) { s.name = "plavo-A1B2C3D4E6"; }},
        {"host name", [](ServiceInfo& s) { s.hostName = "other.local"; }},
        {"address", [](ServiceInfo& s) { s.address = 0xC0A8010Bu; }},
        {"port", [](ServiceInfo& s) { s.port = 443; }},
        {"txt value", [](ServiceInfo& s) { s.txt["Model"] = "brisgo"; }},
        {"txt key", [](ServiceInfo& s) {
             s.txt.erase("Model");
             s.txt["model"] = "Brisgo";
         }},
        {"txt entry added", [](ServiceInfo& s) { s.txt["Serial"] = "1"; }},
        {"txt entry removed", [](ServiceInfo& s) { s.txt.erase("Vendor"); }},
        {"txt empty value", [](ServiceInfo& s) { s.txt["Vendor"] = ""; }},
    };
    const ServiceInfo original = Station();
    EXPECT_TRUE(Station() == original);
    EXPECT_FALSE(Station() != original);
    for (const auto& change : changes) {
        ServiceInfo changed = original;
        change.apply(changed);
        EXPECT_FALSE(changed == original) << change.field;
        EXPECT_FALSE(original == changed) << change.field;
        EXPECT_TRUE(changed != original) << change.field;
    }
}

TEST(DeviceInfo, ComparesEveryFieldAndPrintsThem)
{
    const DeviceInfo device{"plavo-A1B2C3D4E5", "_https._tcp", "local", 2};
    EXPECT_EQ(Print(device), "plavo-A1B2C3D4E5 (_https._tcp.local, interface 2)");
    EXPECT_EQ(device, (DeviceInfo{"plavo-A1B2C3D4E5", "_https._tcp", "local", 2}));
    EXPECT_NE(device, (DeviceInfo{"plavo-A1B2C3D4E6", "_https._tcp", "local", 2}));
    EXPECT_NE(device, (DeviceInfo{"plavo-A1B2C3D4E5", "_http._tcp", "local", 2}));
    EXPECT_NE(device, (DeviceInfo{"plavo-A1B2C3D4E5", "_https._tcp", "home", 2}));
    EXPECT_NE(device, (DeviceInfo{"plavo-A1B2C3D4E5", "_https._tcp", "local", 3}));
}

}  // namespace
