// Runs the simulator in-process on loopback with ephemeral ports, started
// from the example scenario, and drives it over HTTPS and its control port.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "StationSimulator.h"
#include "TestHttpClient.h"

namespace Keldra {
namespace Simulation {

// The text of the JSON value at the pointer ("/rooms/0/room"), or
// "<absent>".
std::string JsonAt(const rapidjson::Value& document, const std::string& pointer);

std::string ExampleScenarioPath();

class SimulatorFixture : public ::testing::Test {
protected:
    using verb = boost::beast::http::verb;

    void SetUp() override;
    void TearDown() override;

    // Starts with these options (address and ports are loopback and ephemeral).
    void StartSimulator(StationSimulator::Options options);

    static std::optional<TestHttpClient::Credentials> Admin() { return TestHttpClient::Credentials{"admin", "secret"}; }

    // One request on a connection of its own.
    TestHttpClient::Result Station(verb method, const std::string& target, const std::string& body = {},
                                   const std::optional<TestHttpClient::Credentials>& credentials = Admin());
    TestHttpClient StationClient() const;

    struct ControlAnswer {
        unsigned status = 0;
        std::string text;
        rapidjson::Document json;
    };
    ControlAnswer Control(verb method, const std::string& path, const std::string& body = {});

    // The station's status, parsed; fails the test unless 200 with JSON.
    rapidjson::Document Status();
    void AddFault(const std::string& fault);
    void MergeState(const std::string& patch);
    // A counter of GET /control/state, e.g. "/counters/tlsHandshakes".
    std::string Counter(const std::string& pointer);

    std::unique_ptr<StationSimulator> _simulator;
};

}  // namespace Simulation
}  // namespace Keldra
