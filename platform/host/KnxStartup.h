// The gateway host's KNX options: --print-knx-map, --print-knx-xml and
// --knx with --knx-map (docs/knx-bus.md).
#pragma once

#include <memory>
#include <ostream>
#include <vector>

#include <boost/asio/io_service.hpp>

#include "platform/knx/DefaultGroupAddressMap.h"
#include "EtsParameterFile.h"
#include "HostOptions.h"
#include "platform/knx/KnxBus.h"

namespace Oru {

class BusConsole;
class GatewayHost;

// The configured stations with their thermostats and slots.
std::vector<Knx::StationLayout> StationLayouts(const EtsParameters& parameters);

// The default map of the installation, as a map file or an ETS import.
void PrintKnxMap(const HostOptions& options, const EtsParameters& parameters, std::ostream& output);

// The map for --knx: the --knx-map file or the default map. Empty when the
// URL is none of knxd's or the file cannot be used, with every error on `errors`.
boost::optional<Knx::GroupAddressMap> LoadKnxMap(const HostOptions& options, const EtsParameters& parameters,
                                                 std::ostream& errors);

// Connects the host to the bus, telegrams shown on the console: what the
// plug-in sends goes on the bus, and what comes from it to `deliver`.
std::unique_ptr<Knx::KnxBus> StartKnxBus(const std::string& url, Knx::GroupAddressMap map,
                                         boost::asio::io_service& ioService, BusConsole& console, GatewayHost& host,
                                         Knx::KnxBus::Deliver deliver);

}  // namespace Oru
