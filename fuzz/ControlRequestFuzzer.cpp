// The HTTP requests of the simulator's control interface, as its sessions
// read and answer them, each on a fresh station of two rooms, followed by a
// status and an information request to the station.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/asio/ip/address_v4.hpp>

#include "tools/simulator/ControlApi.h"
#include "HttpRequestInput.h"
#include "tools/simulator/ScenarioFormat.h"

namespace {

using Keldra::Simulation::ScenarioFormat;
using Keldra::Simulation::StationState;

const char* const BaseScenario = R"({
  "stationId": "0123456789", "firmwareVersion": "2.4.1",
  "rooms": [
    {"room": 1, "thermostat": {"id": "TH000001", "setpointTemperature": 21.5}},
    {"room": 2, "actors": [{"number": 4}], "powerLevel": {"level": 5}}
  ]})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using boost::asio::ip::tcp;
    static const StationState base = *ScenarioFormat::Parse(BaseScenario).state;
    // As the control session reads requests.
    const auto request = Keldra::Fuzzing::ReadHttpRequest(data, size, 8 * 1024, 1024 * 1024);
    if (!request) {
        return 0;
    }
    Keldra::Simulation::SimulatedStation station(base);
    const Keldra::Simulation::ControlApi api(station, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 443),
                                             tcp::endpoint(boost::asio::ip::address_v4::loopback(), 8080));
    static_cast<void>(api.Handle(*request));
    // What the request changed (faults above all) shapes the station's answers.
    for (const char* path : {"/api/v1/status", "/api/v1/info"}) {
        Keldra::Simulation::SimulatedStation::Request get(boost::beast::http::verb::get, path, 11);
        static_cast<void>(station.Handle(get));
    }
    return 0;
}
