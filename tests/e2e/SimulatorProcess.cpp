#include "SimulatorProcess.h"

#include <signal.h>

#include <algorithm>
#include <regex>
#include <stdexcept>

namespace Keldra {
namespace EndToEnd {
namespace {

const char* const SimulatorProgram = KELDRA_SIMULATOR;

}  // namespace

SimulatorProcess::SimulatorProcess(const Lab& lab, std::string node, const std::string& scenario,
                                   std::vector<std::string> options)
    : _lab(lab), _node(std::move(node))
{
    _announce = std::find(options.begin(), options.end(), "--announce") != options.end();
    std::vector<std::string> arguments = {SimulatorProgram, "--scenario", scenario, "--address", lab.Address(_node)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    _process = lab.Start(_node, std::move(arguments));
}

std::string SimulatorProcess::AwaitReady(ChildProcess::Clock::duration timeout)
{
    if (!_process->Error().empty()) {
        return _process->Error();
    }
    const auto deadline = ChildProcess::Clock::now() + timeout;
    const std::regex control("^control on 127\\.0\\.0\\.1:([0-9]+)$");
    if (!_process->WaitForLine(control, 0, timeout)) {
        return "the simulator in " + _node + " does not serve: " + _process->Output();
    }
    const auto lines = _process->MatchingLines(control);
    std::smatch match;
    std::regex_search(lines.front(), match, control);
    _controlPort = match[1];
    if (_announce &&
        !_process->WaitForLine(std::regex("^mDNS: announced"), 0, deadline - ChildProcess::Clock::now())) {
        return "the simulator in " + _node + " does not announce itself: " + _process->Output();
    }
    return "";
}

rapidjson::Document SimulatorProcess::Control(const std::string& method, const std::string& path,
                                              const std::string& body) const
{
    std::vector<std::string> arguments = {"curl", "--silent", "--show-error", "--max-time", "10", "--request", method,
                                          "--write-out", "\n%{http_code}"};
    if (!body.empty()) {
        arguments.insert(arguments.end(), {"--header", "Content-Type: application/json", "--data-binary", body});
    }
    arguments.push_back("http://127.0.0.1:" + _controlPort + path);
    const auto result = _lab.Run(_node, std::move(arguments), std::chrono::seconds(20));
    const auto lastLine = result.output.rfind('\n');
    const std::string answer = lastLine == std::string::npos ? "" : result.output.substr(0, lastLine);
    const std::string status = lastLine == std::string::npos ? "" : result.output.substr(lastLine + 1);
    if (result.status != 0 || status != "200") {
        throw std::runtime_error("control request " + method + " " + path + " to " + _node + " failed (" +
                                 std::to_string(result.status) + "): " + result.output);
    }
    rapidjson::Document document;
    document.Parse(answer.c_str(), answer.size());
    if (document.HasParseError()) {
        throw std::runtime_error("control answer of " + path + " is not JSON: " + answer);
    }
    return document;
}

void SimulatorProcess::Kill()
{
    _process->Signal(SIGKILL);
    _process->WaitForExit(std::chrono::seconds(30));
}

int SimulatorProcess::Stop(ChildProcess::Clock::duration timeout)
{
    _process->Signal(SIGTERM);
    const auto status = _process->WaitForExit(timeout);
    return status ? *status : -1;
}

}  // namespace EndToEnd
}  // namespace Keldra
