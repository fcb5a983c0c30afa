// keldra-simulator: a simulated base station for the end-to-end tests and
// the demo. Usage: see Usage() below and tools/simulator/README.md.
#include <charconv>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "ScenarioFormat.h"
#include "StationSimulator.h"

namespace {

using Keldra::Simulation::ScenarioFormat;
using Keldra::Simulation::StationSimulator;

const char* const s_usage = "usage: keldra-simulator --scenario FILE [options]\n"
                            "  --scenario FILE         the station's state (tools/simulator/README.md)\n"
                            "  --address ADDRESS       address of the HTTPS port (default 0.0.0.0)\n"
                            "  --port PORT             HTTPS port, 0 for any free one (default 443)\n"
                            "  --control-address ADDR  address of the control port (default 127.0.0.1)\n"
                            "  --control-port PORT     control port, 0 for any free one (default 0)\n"
                            "  --announce              announce the station over mDNS (avahi-daemon)\n"
                            "  --idle-timeout-ms N     close idle connections after N ms (default 60000)\n"
                            "  --key-file FILE         the station's key (PEM), made there when missing\n"
                            "  --help                  show this text\n"
                            "Prints \"listening on ADDRESS:PORT\" and \"control on ADDRESS:PORT\" once serving;\n"
                            "stops on SIGINT or SIGTERM.\n";

bool ReadNumber(const std::string& text, std::uint64_t maximum, std::uint64_t& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && value <= maximum;
}

std::mutex s_outputMutex;

void Print(const std::string& line)
{
    std::lock_guard<std::mutex> lock(s_outputMutex);
    std::cout << line << std::endl;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string scenarioPath;
    StationSimulator::Options options;
    options.log = Print;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const bool hasValue = index + 1 < argc;
        std::uint64_t number = 0;
        if (argument == "--help") {
            std::cout << s_usage;
            return 0;
        } else if (argument == "--announce") {
            options.announce = true;
        } else if (argument == "--scenario" && hasValue) {
            scenarioPath = argv[++index];
        } else if (argument == "--key-file" && hasValue) {
            options.keyFile = argv[++index];
        } else if (argument == "--address" && hasValue) {
            options.address = argv[++index];
        } else if (argument == "--control-address" && hasValue) {
            options.controlAddress = argv[++index];
        } else if (argument == "--port" && hasValue && ReadNumber(argv[index + 1], 65535, number)) {
            options.port = static_cast<std::uint16_t>(number);
            ++index;
        } else if (argument == "--control-port" && hasValue && ReadNumber(argv[index + 1], 65535, number)) {
            options.controlPort = static_cast<std::uint16_t>(number);
            ++index;
        } else if (argument == "--idle-timeout-ms" && hasValue && ReadNumber(argv[index + 1], 86400000, number) &&
                   number > 0) {
            options.idleTimeout = std::chrono::milliseconds(number);
            ++index;
        } else {
            std::cerr << "keldra-simulator: bad argument '" << argument << "'\n" << s_usage;
            return 2;
        }
    }
    if (scenarioPath.empty()) {
        std::cerr << "keldra-simulator: --scenario is required\n" << s_usage;
        return 2;
    }
    ScenarioFormat::Result scenario = ScenarioFormat::Load(scenarioPath);
    if (!scenario.state) {
        std::cerr << "keldra-simulator: " << scenario.error << "\n";
        return 1;
    }

    // Installed before the simulator's threads exist; whichever thread a
    // signal lands on, this loop's handler runs.
    boost::asio::io_context signalContext;
    boost::asio::signal_set signals(signalContext, SIGINT, SIGTERM);
    signals.async_wait([](const boost::system::error_code&, int signalNumber) {
        Print("stopping on signal " + std::to_string(signalNumber));
    });

    StationSimulator simulator(std::move(*scenario.state), options);
    const std::string error = simulator.Start();
    if (!error.empty()) {
        std::cerr << "keldra-simulator: " << error << "\n";
        return 1;
    }
    signalContext.run();
    simulator.Stop();
    return 0;
}
