// The control interface of the simulator: JSON commands over plain HTTP that
// read the station's state and counters, merge state changes and set
// faults. tools/simulator/README.md lists the commands.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include "SimulatedStation.h"

namespace Keldra {
namespace Simulation {

class ControlApi {
public:
    ControlApi(SimulatedStation& station, boost::asio::ip::tcp::endpoint stationEndpoint,
               boost::asio::ip::tcp::endpoint controlEndpoint);

    SimulatedStation::Response Handle(const SimulatedStation::Request& request) const;

private:
    SimulatedStation::Response StateAnswer() const;
    SimulatedStation::Response FaultsAnswer() const;
    SimulatedStation::Response CountersAnswer() const;
    SimulatedStation::Response RequestsAnswer() const;

    SimulatedStation& _station;
    boost::asio::ip::tcp::endpoint _stationEndpoint;
    boost::asio::ip::tcp::endpoint _controlEndpoint;
};

}  // namespace Simulation
}  // namespace Keldra
