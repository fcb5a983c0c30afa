#include "KnxStartup.h"

#include <fstream>

#include "BusConsole.h"
#include "CommunicationObjectNames.h"
#include "GatewayHost.h"

namespace Oru {
namespace {

constexpr std::size_t StationIdLength = 10;
constexpr std::size_t ThermostatIdLength = 8;

}  // namespace

std::vector<Knx::StationLayout> StationLayouts(const EtsParameters& parameters)
{
    std::vector<Knx::StationLayout> stations;
    const auto ids = parameters.texts.find(1);
    const std::size_t count = ids == parameters.texts.end() ? 0 : ids->second.size() / StationIdLength;
    for (int n = 1; n <= static_cast<int>(count); ++n) {
        const auto thermostatIds = parameters.texts.find(n + 1);
        const auto rooms = parameters.numbers.find(n);
        const std::size_t idLength = thermostatIds == parameters.texts.end() ? 0 : thermostatIds->second.size();
        const int thermostats = static_cast<int>(idLength / ThermostatIdLength);
        const int roomCount = rooms == parameters.numbers.end() ? 0 : rooms->second;
        stations.push_back({thermostats, std::max(0, roomCount - thermostats)});
    }
    return stations;
}

void PrintKnxMap(const HostOptions& options, const EtsParameters& parameters, std::ostream& output)
{
    const auto map = Knx::DefaultGroupAddressMap(StationLayouts(parameters));
    if (options.printKnxXml) {
        Knx::WriteEtsGroupAddresses(output, map, DescribeCommunicationObject);
    } else {
        Knx::WriteGroupAddressMap(output, map, DescribeCommunicationObject);
    }
}

boost::optional<Knx::GroupAddressMap> LoadKnxMap(const HostOptions& options, const EtsParameters& parameters,
                                                 std::ostream& errors)
{
    if (options.knxUrl.compare(0, 7, "local:/") != 0 && options.knxUrl.compare(0, 3, "ip:") != 0) {
        errors << "Not a knxd URL: '" << options.knxUrl << "' (local:/run/knx or ip:HOST[:PORT])\n";
        return boost::none;
    }
    if (options.knxMapFile.empty()) {
        return Knx::DefaultGroupAddressMap(StationLayouts(parameters));
    }
    std::ifstream file(options.knxMapFile);
    if (!file) {
        errors << "Cannot read the group address map '" << options.knxMapFile << "'\n";
        return boost::none;
    }
    auto parsed = Knx::ParseGroupAddressMap(file);
    for (const auto& error : parsed.errors) {
        errors << options.knxMapFile << ": " << error << '\n';
    }
    if (!parsed.errors.empty()) {
        return boost::none;
    }
    return std::move(parsed.map);
}

std::unique_ptr<Knx::KnxBus> StartKnxBus(const std::string& url, Knx::GroupAddressMap map,
                                         boost::asio::io_service& ioService, BusConsole& console, GatewayHost& host,
                                         Knx::KnxBus::Deliver deliver)
{
    auto bus = std::make_unique<Knx::KnxBus>(ioService, url, std::move(map), std::move(deliver),
                                             [&console](const std::string& line) { console.PrintLine(line); });
    host.SetBusOutput([&bus = *bus](int co, const BusValue& value) { bus.Send(co, value); });
    bus->Start();
    return bus;
}

}  // namespace Oru
