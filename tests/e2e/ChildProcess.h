#pragma once
// A program run as a child process for the end-to-end tests: standard output
// and standard error are collected together (and can be awaited line by
// line), standard input is a pipe.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <boost/optional.hpp>

namespace Keldra {
namespace EndToEnd {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // `environment`: "NAME=value" entries added to (or replacing those of)
    // this process's environment. Check Error() afterwards.
    ChildProcess(std::vector<std::string> arguments, std::vector<std::string> environment = {});
    // A child still running is killed (SIGKILL) and reaped.
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Empty when the child was started.
    const std::string& Error() const { return _error; }
    pid_t Pid() const { return _pid; }
    std::string CommandLine() const;

    // Writes the line and a line feed to the child's standard input.
    bool WriteLine(const std::string& line);
    void Signal(int signalNumber);

    // Everything the child has written so far.
    std::string Output() const;
    // The end of the first complete output line at or after `from` that
    // `pattern` matches (std::regex_search), waiting until `timeout` passes.
    boost::optional<std::size_t> WaitForLine(const std::regex& pattern, std::size_t from,
                                             Clock::duration timeout) const;
    // The lines at or after `from` that `pattern` matches, as they are now.
    std::vector<std::string> MatchingLines(const std::regex& pattern, std::size_t from = 0) const;

    // The exit status (128 + N after signal N) once the child has ended;
    // empty when it runs on past `timeout`.
    boost::optional<int> WaitForExit(Clock::duration timeout);
    bool HasExited() const;

private:
    void Watch();

    std::vector<std::string> _arguments;
    std::string _error;
    pid_t _pid = -1;
    int _input = -1;
    int _output = -1;
    int _processDescriptor = -1;
    int _wakeRead = -1;
    int _wakeWrite = -1;

    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    std::string _collected;
    boost::optional<int> _exitStatus;
    bool _outputClosed = false;
    std::thread _watcher;
};

}  // namespace EndToEnd
}  // namespace Keldra
