#pragma once
// One test's private network, made by scripts/lab: network namespaces on a
// bridge, each with its own D-Bus and avahi-daemon. Removed again, with
// every process in it, when the object goes.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace Keldra {
namespace EndToEnd {

class Lab {
public:
    // The result of a command run to its end.
    struct Result {
        int status = -1;  // -1: did not end in time (then killed)
        std::string output;
    };

    // Makes the namespaces; check Error().
    explicit Lab(std::vector<std::string> nodes);
    ~Lab();

    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    // Empty when the lab is up.
    const std::string& Error() const { return _error; }
    const std::string& Name() const { return _name; }
    // The IPv4 address of a node, e.g. "10.77.13.2".
    std::string Address(const std::string& node) const;

    // Starts a program in the node; the child's pid is the program's.
    std::unique_ptr<ChildProcess> Start(const std::string& node, std::vector<std::string> arguments) const;
    // Runs a program in the node to its end.
    Result Run(const std::string& node, std::vector<std::string> arguments,
               std::chrono::steady_clock::duration timeout = std::chrono::seconds(30)) const;
    // Runs a command of the lab script itself ("avahi gw restart" ...).
    Result Script(std::vector<std::string> arguments,
                  std::chrono::steady_clock::duration timeout = std::chrono::seconds(60)) const;

    // Removes the labs that earlier runs of the tests left behind when they
    // were killed (their process is gone).
    static void RemoveAbandonedLabs();
    // Why end-to-end tests cannot run here; empty when they can.
    static std::string Unavailable();

private:
    std::string _name;
    std::vector<std::string> _nodes;
    std::string _error;
};

}  // namespace EndToEnd
}  // namespace Keldra
