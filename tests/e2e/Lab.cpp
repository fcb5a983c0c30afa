#include "Lab.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace Keldra::EndToEnd {

namespace {

using std::chrono::seconds;

const char* const ScriptPath = KELDRA_LAB_SCRIPT;

// A shell command, with ip and the daemons on its PATH; `arguments` are $0, $1 ...
Result Shell(const std::string& command, std::vector<std::string> arguments = {})
{
    arguments.insert(arguments.begin(),
                     {"/usr/bin/env", "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "/bin/sh",
                      "-c", command});
    return Run(std::move(arguments), seconds(120));
}

}  // namespace

Lab::Lab(std::vector<std::string> nodes) : _nodes(std::move(nodes))
{
    // "e2e-<pid of the test program>-<serial>", as Unavailable() expects.
    static std::atomic<int> s_serial{0};
    _name = "e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++s_serial);
    auto arguments = _nodes;
    arguments.insert(arguments.begin(), "up");
    const auto result = Script(arguments, seconds(90));
    if (result.status != 0) {
        Script({"down"});
        throw std::runtime_error("scripts/lab up failed (" + std::to_string(result.status) + "): " + result.output);
    }
}

std::string Lab::Address(const std::string& node) const
{
    const auto index = std::find(_nodes.begin(), _nodes.end(), node) - _nodes.begin();
    return "10.77.13." + std::to_string(index + 1);
}

std::unique_ptr<ChildProcess> Lab::Start(const std::string& node, std::vector<std::string> arguments) const
{
    arguments.insert(arguments.begin(), {"/usr/bin/env", "KELDRA_LAB=" + _name, ScriptPath, "exec", node});
    return std::make_unique<ChildProcess>(std::move(arguments));
}

Result Lab::Script(std::vector<std::string> arguments, seconds timeout) const
{
    arguments.insert(arguments.begin(), {"/usr/bin/env", "KELDRA_LAB=" + _name, ScriptPath});
    return Run(std::move(arguments), timeout);
}

rapidjson::Document Lab::Request(const std::string& node, const std::string& method, const std::string& url,
                                 const std::string& body) const
{
    std::vector<std::string> arguments = {"exec", node, "curl", "--silent", "--show-error", "--max-time", "60",
                                          "--request", method, "--write-out", "\n%{http_code}"};
    if (!body.empty()) {
        arguments.insert(arguments.end(), {"--header", "Content-Type: application/json", "--data-binary", body});
    }
    arguments.push_back(url);
    const auto result = Script(std::move(arguments), seconds(90));
    const auto lastLine = result.output.rfind('\n');
    rapidjson::Document answer;
    if (result.status == 0 && lastLine != std::string::npos && result.output.substr(lastLine + 1) == "200" &&
        !answer.Parse(result.output.c_str(), lastLine).HasParseError()) {
        return answer;
    }
    throw std::runtime_error(method + " " + url + " in " + node + " failed (" + std::to_string(result.status) +
                             "): " + result.output.substr(0, 2000));
}

std::string Lab::Unavailable()
{
    static const std::string s_reason = [] {
        if (::geteuid() != 0) {
            return std::string("the end-to-end tests need root (network namespaces, port 443)");
        }
        // The probe is named like a lab of this program, so that a later run
        // removes it should it be left behind.
        const auto check = Shell("for program in ip nsenter dbus-daemon avahi-daemon curl; do command -v $program"
                                 " >/dev/null || { echo programs the end-to-end tests need are missing: $program;"
                                 " exit 1; }; done; ip netns add \"$0\" 2>&1 && ip netns del \"$0\" ||"
                                 " { echo network namespaces cannot be made; exit 1; }",
                                 {"e2e-" + std::to_string(::getpid()) + "-0-probe"});
        if (check.status != 0) {
            return check.output;
        }
        // The labs, by their state directory or their namespaces, of test
        // programs that are gone.
        Shell("(ls /run/keldra-lab; ip netns list | cut -d' ' -f1 |"
              " sed -n 's/^\\(e2e-[0-9]*-[0-9]*\\)-[a-z][a-z0-9]*$/\\1/p') 2>/dev/null |"
              " grep -xE 'e2e-[0-9]+-[0-9]+' | sort -u | while read -r lab; do"
              " pid=${lab#e2e-}; pid=${pid%-*};"
              " [ \"$pid\" = \"$1\" ] || kill -0 \"$pid\" 2>/dev/null || KELDRA_LAB=$lab \"$0\" down; done",
              {ScriptPath, std::to_string(::getpid())});
        return std::string();
    }();
    return s_reason;
}

Station::Station(const Lab& lab, std::string node, const std::string& scenario, std::vector<std::string> options)
    : _lab(lab), _node(std::move(node))
{
    const bool announce = std::find(options.begin(), options.end(), "--announce") != options.end();
    options.insert(options.begin(), {KELDRA_SIMULATOR, "--scenario", scenario, "--address", lab.Address(_node)});
    _process = lab.Start(_node, std::move(options));
    const std::regex control("^control on 127\\.0\\.0\\.1:([0-9]+)$");
    if (!_process->WaitForLine(control, 0, seconds(60)) ||
        (announce && !_process->WaitForLine(std::regex("^mDNS: announced"), 0, seconds(60)))) {
        throw std::runtime_error("the simulator in " + _node + " does not serve or is not announced: " +
                                 _process->Output());
    }
    std::smatch match;
    const auto line = _process->MatchingLines(control).front();
    std::regex_search(line, match, control);
    _controlPort = match[1];
}

std::vector<std::string> Station::Answers(const std::string& path) const
{
    const auto requests = Control("GET", "/control/requests");
    std::vector<std::string> answers;
    for (const auto& request : requests["requests"].GetArray()) {
        if (path.empty() || request["path"].GetString() == path) {
            const auto& answer = request["answer"];
            answers.push_back(answer.IsInt() ? std::to_string(answer.GetInt()) : answer.GetString());
        }
    }
    return answers;
}


}  // namespace Keldra::EndToEnd
