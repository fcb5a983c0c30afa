#include "Lab.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <regex>
#include <set>

#include <boost/filesystem.hpp>

namespace Keldra {
namespace EndToEnd {
namespace {

const char* const LabScript = KELDRA_LAB_SCRIPT;
const char* const StateDirectory = "/run/keldra-lab";
// Where ip, nsenter and the daemons are, also when the caller's PATH lacks sbin.
const char* const SystemPath = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Lab names of the tests: "e2e-<pid of the test program>-<serial>".
const std::regex& TestLabName()
{
    static const std::regex name("^e2e-([0-9]+)-[0-9]+$");
    return name;
}

Lab::Result RunToEnd(std::vector<std::string> arguments, std::vector<std::string> environment,
                     std::chrono::steady_clock::duration timeout)
{
    ChildProcess child(std::move(arguments), std::move(environment));
    Lab::Result result;
    if (!child.Error().empty()) {
        result.output = child.Error();
        return result;
    }
    const auto status = child.WaitForExit(timeout);
    result.status = status ? *status : -1;
    result.output = child.Output();
    return result;
}

Lab::Result RunLabScript(const std::string& lab, std::vector<std::string> arguments,
                         std::chrono::steady_clock::duration timeout)
{
    arguments.insert(arguments.begin(), LabScript);
    return RunToEnd(std::move(arguments), {"KELDRA_LAB=" + lab}, timeout);
}

}  // namespace

Lab::Lab(std::vector<std::string> nodes) : _nodes(std::move(nodes))
{
    static std::atomic<int> s_serial{0};
    _name = "e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++s_serial);
    auto arguments = _nodes;
    arguments.insert(arguments.begin(), "up");
    const auto result = RunLabScript(_name, arguments, std::chrono::seconds(90));
    if (result.status != 0) {
        _error = "scripts/lab up failed (" + std::to_string(result.status) + "): " + result.output;
    }
}

Lab::~Lab() { RunLabScript(_name, {"down"}, std::chrono::seconds(60)); }

std::string Lab::Address(const std::string& node) const
{
    for (std::size_t index = 0; index < _nodes.size(); ++index) {
        if (_nodes[index] == node) {
            return "10.77.13." + std::to_string(index + 1);
        }
    }
    return "";
}

std::unique_ptr<ChildProcess> Lab::Start(const std::string& node, std::vector<std::string> arguments) const
{
    arguments.insert(arguments.begin(), {LabScript, "exec", node});
    return std::make_unique<ChildProcess>(std::move(arguments), std::vector<std::string>{"KELDRA_LAB=" + _name});
}

Lab::Result Lab::Run(const std::string& node, std::vector<std::string> arguments,
                     std::chrono::steady_clock::duration timeout) const
{
    arguments.insert(arguments.begin(), {"exec", node});
    return RunLabScript(_name, std::move(arguments), timeout);
}

Lab::Result Lab::Script(std::vector<std::string> arguments, std::chrono::steady_clock::duration timeout) const
{
    return RunLabScript(_name, std::move(arguments), timeout);
}

void Lab::RemoveAbandonedLabs()
{
    std::set<std::string> labs;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator entry(StateDirectory, error), end; !error && entry != end;
         entry.increment(error)) {
        labs.insert(entry->path().filename().string());
    }
    const auto namespaces =
        RunToEnd({"/bin/sh", "-c", "ip netns list | cut -d' ' -f1"}, {SystemPath}, std::chrono::seconds(10));
    const std::regex namespaceOfLab("^(e2e-[0-9]+-[0-9]+)-[a-z][a-z0-9]*$");
    std::smatch match;
    std::size_t start = 0;
    for (std::size_t end; (end = namespaces.output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = namespaces.output.substr(start, end - start);
        if (std::regex_match(line, match, namespaceOfLab)) {
            labs.insert(match[1]);
        }
    }
    for (const auto& lab : labs) {
        if (!std::regex_match(lab, match, TestLabName())) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::stol(match[1]));
        if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
            RunLabScript(lab, {"down"}, std::chrono::seconds(60));
        }
    }
}

std::string Lab::Unavailable()
{
    static const std::string s_reason = [] {
        if (::geteuid() != 0) {
            return std::string("the end-to-end tests need root (network namespaces, port 443)");
        }
        const auto missing = RunToEnd({"/bin/sh", "-c",
                                       "for program in ip nsenter dbus-daemon avahi-daemon curl; do "
                                       "command -v $program >/dev/null || printf ' %s' $program; done"},
                                      {SystemPath},
                                      std::chrono::seconds(10));
        if (missing.status != 0 || !missing.output.empty()) {
            return "programs the end-to-end tests need are missing:" + missing.output;
        }
        // Named like a lab of this program, so that RemoveAbandonedLabs()
        // finds it should it be left behind.
        const std::string probe = "e2e-" + std::to_string(::getpid()) + "-0-probe";
        const auto netns = RunToEnd({"/bin/sh", "-c", "ip netns add " + probe + " 2>&1 && ip netns del " + probe},
                                    {SystemPath},
                                    std::chrono::seconds(10));
        if (netns.status != 0) {
            return "network namespaces cannot be made ('ip netns add' failed: " + netns.output + ")";
        }
        return std::string();
    }();
    return s_reason;
}

}  // namespace EndToEnd
}  // namespace Keldra
