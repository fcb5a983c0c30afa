#include "SimulatorFixture.h"

#include <rapidjson/pointer.h>

#include "JsonText.h"
#include "ScenarioFormat.h"

namespace Keldra {
namespace Simulation {

std::string JsonAt(const rapidjson::Value& document, const std::string& pointer)
{
    const rapidjson::Value* value = rapidjson::Pointer(pointer.c_str()).Get(document);
    return value == nullptr ? "<absent>" : JsonToText(*value);
}

std::string ExampleScenarioPath()
{
    return KELDRA_SIMULATOR_SCENARIOS "/two-rooms.json";
}

void SimulatorFixture::SetUp()
{
    StartSimulator({});
}

void SimulatorFixture::TearDown()
{
    _simulator.reset();
}

void SimulatorFixture::StartSimulator(StationSimulator::Options options)
{
    _simulator.reset();
    ScenarioFormat::Result scenario = ScenarioFormat::Load(ExampleScenarioPath());
    ASSERT_TRUE(scenario.state) << scenario.error;
    options.address = "127.0.0.1";
    options.port = 0;
    options.controlAddress = "127.0.0.1";
    options.controlPort = 0;
    _simulator = std::make_unique<StationSimulator>(std::move(*scenario.state), options);
    ASSERT_EQ("", _simulator->Start());
}

TestHttpClient SimulatorFixture::StationClient() const
{
    return TestHttpClient(_simulator->StationEndpoint(), true);
}

TestHttpClient::Result SimulatorFixture::Station(verb method, const std::string& target, const std::string& body,
                                                 const std::optional<TestHttpClient::Credentials>& credentials)
{
    TestHttpClient client(_simulator->StationEndpoint(), true);
    return client.Send(method, target, body, credentials);
}

SimulatorFixture::ControlAnswer SimulatorFixture::Control(verb method, const std::string& path, const std::string& body)
{
    TestHttpClient client(_simulator->ControlEndpoint(), false);
    TestHttpClient::Result result = client.Send(method, path, body);
    ControlAnswer answer;
    EXPECT_FALSE(result.error) << path << ": " << result.error.message();
    answer.status = result.response.result_int();
    answer.text = result.response.body();
    std::string error;
    EXPECT_TRUE(ParseJson(answer.text, answer.json, error)) << path << ": " << error << " in " << answer.text;
    return answer;
}

rapidjson::Document SimulatorFixture::Status()
{
    const TestHttpClient::Result result = Station(verb::get, "/api/v1/status");
    rapidjson::Document status;
    EXPECT_FALSE(result.error) << result.error.message();
    EXPECT_EQ(200u, result.response.result_int());
    std::string error;
    EXPECT_TRUE(ParseJson(result.response.body(), status, error)) << error;
    return status;
}

void SimulatorFixture::AddFault(const std::string& fault)
{
    const ControlAnswer answer = Control(verb::post, "/control/fault", fault);
    EXPECT_EQ(200u, answer.status) << answer.text;
}

void SimulatorFixture::MergeState(const std::string& patch)
{
    const ControlAnswer answer = Control(verb::post, "/control/state", patch);
    EXPECT_EQ(200u, answer.status) << answer.text;
}

std::string SimulatorFixture::Counter(const std::string& pointer)
{
    return JsonAt(Control(verb::get, "/control/state").json, pointer);
}

}  // namespace Simulation
}  // namespace Keldra
