#include "EndToEndFixture.h"

#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <iostream>

#include <boost/filesystem.hpp>

namespace Keldra {
namespace EndToEnd {
namespace {

const char* const HostProgram = KELDRA_GATEWAY_HOST;
const char* const PluginLibrary = KELDRA_PLUGIN;
const std::string DataDirectory = KELDRA_E2E_DATA;

std::string EscapeForRegex(const std::string& text)
{
    static const std::string special = R"(\^$.|?*+()[]{})";
    std::string escaped;
    for (const char character : text) {
        if (special.find(character) != std::string::npos) {
            escaped += '\\';
        }
        escaped += character;
    }
    return escaped;
}

}  // namespace

constexpr Seconds EndToEndTest::DiscoveryTimeout;
constexpr Seconds EndToEndTest::PollTimeout;
constexpr Seconds EndToEndTest::StartTimeout;

void EndToEndTest::SetUpTestSuite()
{
    // A child that dies must not take the tests with it when they write to it.
    ::signal(SIGPIPE, SIG_IGN);
    if (Lab::Unavailable().empty()) {
        Lab::RemoveAbandonedLabs();
    }
}

void EndToEndTest::SetUp()
{
    const std::string why = Lab::Unavailable();
    if (!why.empty()) {
        GTEST_SKIP() << "End-to-end tests skipped: " << why;
    }
    char pattern[] = "/tmp/keldra-e2e-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    _directory = pattern;
}

void EndToEndTest::TearDown()
{
    if (_directory.empty()) {
        return;
    }
    if (HasFailure()) {
        KeepOutputs();
    }
    // The lab goes last: it ends whatever still runs in it.
    _host.reset();
    _stations.clear();
    _lab.reset();
    if (!HasFailure()) {
        boost::system::error_code error;
        boost::filesystem::remove_all(_directory, error);
    }
}

void EndToEndTest::KeepOutputs()
{
    auto keep = [this](const std::string& name, const ChildProcess& process) {
        std::ofstream(_directory + "/" + name) << process.CommandLine() << "\n\n" << process.Output();
    };
    if (_host) {
        keep("host.log", *_host);
    }
    for (std::size_t index = 0; index < _stations.size(); ++index) {
        keep(_stations[index]->Node() + "-" + std::to_string(index + 1) + ".log", _stations[index]->Process());
    }
    std::cerr << "The output of every process is kept in " << _directory << '\n';
}

void EndToEndTest::StartLab()
{
    _lab = std::make_unique<Lab>(std::vector<std::string>{"gw", "st1", "st2"});
    if (!_lab->Error().empty()) {
        throw WaitFailed(_lab->Error());
    }
}

SimulatorProcess& EndToEndTest::StartStation(const std::string& node, const std::string& scenario,
                                             std::vector<std::string> options)
{
    _stations.push_back(
        std::make_unique<SimulatorProcess>(*_lab, node, DataDirectory + "/" + scenario, std::move(options)));
    const std::string error = _stations.back()->AwaitReady(StartTimeout);
    if (!error.empty()) {
        throw WaitFailed(error);
    }
    return *_stations.back();
}

ChildProcess& EndToEndTest::StartHost()
{
    const std::string configuration = _directory + "/config";
    boost::filesystem::create_directories(configuration);
    // The passwords of station1.json and station2.json, Base64-encoded.
    std::ofstream(configuration + "/orubasestationconfig.json")
        << R"({"baseStations": [{"index": 0, "username": "admin", "credentials": "c2VjcmV0LTE="},)"
        << R"( {"index": 1, "username": "admin", "credentials": "c2VjcmV0LTI="}]})" << '\n';
    _host = _lab->Start("gw", {HostProgram, "--plugin", PluginLibrary, "--parameters",
                               DataDirectory + "/ets-parameters.txt", "--config-dir", configuration});
    if (!_host->Error().empty()) {
        throw WaitFailed(_host->Error());
    }
    Await(Line("Running. Type 'help'"), 0, StartTimeout);
    return *_host;
}

int EndToEndTest::StopHost()
{
    _host->WriteLine("quit");
    const auto status = _host->WaitForExit(StartTimeout);
    return status ? *status : -1;
}

std::size_t EndToEndTest::Await(const Pattern& pattern, std::size_t from, Seconds timeout)
{
    const auto end = _host->WaitForLine(pattern.regex, from, timeout);
    if (!end) {
        throw WaitFailed("the host printed no line '" + pattern.description + "' within " +
                         std::to_string(timeout.count()) + " s" +
                         (_host->HasExited() ? " (the host has ended)" : ""));
    }
    return *end;
}

Pattern EndToEndTest::BusValue(int co, const std::string& value)
{
    return {"app->bus CO " + std::to_string(co) + " (...) " + value,
            std::regex("app->bus CO " + std::to_string(co) + " \\(.*\\) " + EscapeForRegex(value) + "$")};
}

Pattern EndToEndTest::Line(const std::string& text) { return {text, std::regex(EscapeForRegex(text))}; }

Pattern EndToEndTest::Led(int code)
{
    return {"LED error code " + std::to_string(code), std::regex("LED error code " + std::to_string(code) + "$")};
}

}  // namespace EndToEnd
}  // namespace Keldra
