#pragma once
// The harness of the end-to-end tests: one test's private network, made by
// scripts/lab (network namespaces on a bridge, each with its own D-Bus and
// avahi-daemon), removed again with every process in it when the Lab goes;
// and the simulated base stations in it.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/testing/ChildProcess.h"

// RapidJSON that throws (and fails the test) instead of aborting the program
// when a member read is missing or of another type.
#include <stdexcept>
#define RAPIDJSON_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : throw std::logic_error("unexpected JSON: " #condition))
#include <rapidjson/document.h>

namespace Keldra::EndToEnd {

using Oru::Testing::ChildProcess;
using Oru::Testing::Result;
using Oru::Testing::Run;

class Lab {
public:
    // Makes the namespaces (the nodes have 10.77.13.1, .2, ... in order);
    // throws std::runtime_error when it cannot.
    explicit Lab(std::vector<std::string> nodes);
    ~Lab() { Script({"down"}); }
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    std::string Address(const std::string& node) const;
    std::unique_ptr<ChildProcess> Start(const std::string& node, std::vector<std::string> arguments) const;
    // A command of scripts/lab run to its end ("avahi gw restart", "exec st1 curl ...").
    Result Script(std::vector<std::string> arguments, std::chrono::seconds timeout = std::chrono::seconds(60)) const;
    // An HTTP request made with curl in the node; the answer's JSON. Throws
    // std::runtime_error unless it is answered with 200 and JSON.
    rapidjson::Document Request(const std::string& node, const std::string& method, const std::string& url,
                                const std::string& body = "") const;

    // Why end-to-end tests cannot run here, empty when they can; the first
    // call also removes the labs that killed runs of the tests left behind.
    static std::string Unavailable();

private:
    std::string _name;
    std::vector<std::string> _nodes;
};

// A keldra-simulator in a lab node, on the node's address and port 443.
class Station {
public:
    // Returns once it serves and, with "--announce", is announced; throws
    // std::runtime_error when it does not within 60 s.
    Station(const Lab& lab, std::string node, const std::string& scenario,
            std::vector<std::string> options = {"--announce"});

    // A request to its control interface; the answer's JSON.
    rapidjson::Document Control(const std::string& method, const std::string& path, const std::string& body = "") const
    {
        return _lab.Request(_node, method, "http://127.0.0.1:" + _controlPort + path, body);
    }
    rapidjson::Document State() const { return Control("GET", "/control/state"); }
    // The station's answers (HTTP status or what happened instead) to the
    // requests for `path` (to every request when empty), oldest first.
    std::vector<std::string> Answers(const std::string& path = "") const;
    ChildProcess& Process() { return *_process; }
    const std::string& Node() const { return _node; }

private:
    const Lab& _lab;
    std::string _node;
    std::unique_ptr<ChildProcess> _process;
    std::string _controlPort;
};

}  // namespace Keldra::EndToEnd
