// The one way tests run a program as a child process: standard output and
// standard error are collected together and can be awaited line by line;
// standard input is a socket (writing to a child that has ended raises no
// SIGPIPE). A child still running at destruction is killed and reaped. A
// program that cannot be started ends at once with status 127 and the reason
// as its output. The program is looked up on PATH unless it names a path.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <boost/optional.hpp>

namespace Oru {
namespace Testing {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    explicit ChildProcess(std::vector<std::string> arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Writes the text as it is; false when the child does not take all of it.
    bool Write(const std::string& text);
    // The child reads the end of its input.
    void CloseInput();
    // SIGKILL; returns once the process is gone.
    void Kill();
    // Sends the signal while the process runs (SIGTERM, SIGSTOP, SIGCONT ...).
    void Signal(int signal);
    pid_t Id() const { return _pid; }
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

}  // namespace Testing
}  // namespace Oru
