#pragma once
// The harness of the end-to-end tests: child processes; one test's private
// network, made by scripts/lab (network namespaces on a bridge, each with its
// own D-Bus and avahi-daemon), removed again with every process in it when
// the Lab goes; and the simulated base stations in it.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <boost/optional.hpp>

// RapidJSON that throws (and fails the test) instead of aborting the program
// when a member read is missing or of another type.
#include <stdexcept>
#define RAPIDJSON_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : throw std::logic_error("unexpected JSON: " #condition))
#include <rapidjson/document.h>

namespace Keldra::EndToEnd {

// A program run as a child process: standard output
// and standard error are collected together and can be awaited line by line;
// standard input is a socket (writing to a child that has ended raises no
// SIGPIPE). A child still running at destruction is killed and reaped. A
// program that cannot be started ends at once with status 127 and the reason
// as its output.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    explicit ChildProcess(std::vector<std::string> arguments);
    ~ChildProcess();

    bool WriteLine(const std::string& line);
    // SIGKILL; returns once the process is gone.
    void Kill();
    // Sends the signal while the process runs (SIGSTOP, SIGCONT ...).
    void Signal(int signal);
    std::string Output() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _collected;
    }
    // The end of the first complete output line at or after `from` that
    // `pattern` matches (std::regex_search); empty when none has come within
    // `timeout` or the child has ended without one.
    boost::optional<std::size_t> WaitForLine(const std::regex& pattern, std::size_t from,
                                             Clock::duration timeout) const;
    // The lines at or after `from` that `pattern` matches, as they are now.
    std::vector<std::string> MatchingLines(const std::regex& pattern, std::size_t from = 0) const;
    // The exit status (128 + N after signal N); empty while it runs past `timeout`.
    boost::optional<int> WaitForExit(Clock::duration timeout) const;
    bool HasExited() const { return WaitForExit(Clock::duration::zero()).has_value(); }

private:
    void Watch();
    // Under _mutex: whether a complete line at or after `from` matches; `from`
    // moves past the lines looked at.
    bool FindLine(const std::regex& pattern, std::size_t& from, std::string* line) const;

    pid_t _pid = -1;
    int _input = -1;
    int _output = -1;
    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    std::string _collected;
    boost::optional<int> _exitStatus;
    std::thread _watcher;
};


// A program run to its end: its exit status (-1: killed after `timeout`) and output.
struct Result {
    int status = -1;
    std::string output;
};
Result Run(std::vector<std::string> arguments, std::chrono::seconds timeout = std::chrono::seconds(60));

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
