#pragma once
// A keldra-simulator process in a lab node, with its control interface
// (reached with curl inside the node, where it listens on loopback).
#include <memory>
#include <string>
#include <vector>

#include "CheckedJson.h"

#include "ChildProcess.h"
#include "Lab.h"

namespace Keldra {
namespace EndToEnd {

class SimulatorProcess {
public:
    // Starts the simulator on the node's address, port 443, with the
    // scenario file and the further options ("--announce" ...).
    SimulatorProcess(const Lab& lab, std::string node, const std::string& scenario,
                     std::vector<std::string> options);

    // Waits until it serves and, when it announces itself, is announced;
    // empty when it is, otherwise why not.
    std::string AwaitReady(ChildProcess::Clock::duration timeout);

    // A control request; the answer's JSON. Throws std::runtime_error when
    // the request fails or is refused.
    rapidjson::Document Control(const std::string& method, const std::string& path,
                                const std::string& body = "") const;
    rapidjson::Document State() const { return Control("GET", "/control/state"); }

    ChildProcess& Process() { return *_process; }
    const std::string& Node() const { return _node; }
    // SIGKILL; returns once the process is gone.
    void Kill();
    // SIGTERM; the exit status, -1 when it does not end in time.
    int Stop(ChildProcess::Clock::duration timeout);

private:
    const Lab& _lab;
    std::string _node;
    bool _announce;
    std::unique_ptr<ChildProcess> _process;
    std::string _controlPort;
};

}  // namespace EndToEnd
}  // namespace Keldra
