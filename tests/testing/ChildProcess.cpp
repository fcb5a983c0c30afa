#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace Oru {
namespace Testing {

ChildProcess::ChildProcess(std::vector<std::string> arguments)
{
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int result = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) == 0 && ::pipe2(output, O_CLOEXEC) == 0
                     ? 0
                     : errno;
    if (result == 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(&argument[0]);
        }
        argv.push_back(nullptr);
        result = ::posix_spawnp(&_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    ::close(input[0]);
    ::close(output[1]);
    _input = input[1];
    _output = output[0];
    if (result != 0) {
        _collected = "cannot start " + arguments.at(0) + ": " + std::strerror(result) + "\n";
        _exitStatus = 127;
        return;
    }
    _watcher = std::thread([this] { Watch(); });
}

ChildProcess::~ChildProcess()
{
    if (_watcher.joinable()) {
        Kill();
        _watcher.join();
    }
    ::close(_input);
    ::close(_output);
}

void ChildProcess::Watch()
{
    for (bool open = true;;) {
        pollfd output = {open ? _output : -1, POLLIN, 0};
        ::poll(&output, 1, 20);
        int status = 0;
        const bool reaped = ::waitpid(_pid, &status, WNOHANG) == _pid;
        // What the child wrote before it ended is collected before its end is
        // reported; a grandchild that keeps writing (a daemon of the lab) is
        // not waited for.
        for (int reads = 0; open && reads < 256; ++reads) {
            pollfd ready = {_output, POLLIN, 0};
            char buffer[4096];
            const ssize_t count = ::poll(&ready, 1, 0) == 1 ? ::read(_output, buffer, sizeof buffer) : -1;
            if (count < 0) {
                break;
            }
            open = count > 0;
            std::lock_guard<std::mutex> lock(_mutex);
            _collected.append(buffer, static_cast<std::size_t>(count));
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (reaped) {
                _exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        _changed.notify_all();
        if (reaped) {
            return;
        }
    }
}

bool ChildProcess::Write(const std::string& text)
{
    return ::send(_input, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

void ChildProcess::CloseInput() { ::shutdown(_input, SHUT_WR); }

void ChildProcess::Kill()
{
    Signal(SIGKILL);
    WaitForExit(std::chrono::seconds(30));
}

void ChildProcess::Signal(int signal)
{
    if (!HasExited()) {
        ::kill(_pid, signal);
    }
}

bool ChildProcess::FindLine(const std::regex& pattern, std::size_t& from, std::string* line) const
{
    for (std::size_t end; (end = _collected.find('\n', from)) != std::string::npos;) {
        const std::string text = _collected.substr(from, end - from);
        from = end + 1;
        if (std::regex_search(text, pattern)) {
            if (line != nullptr) {
                *line = text;
            }
            return true;
        }
    }
    return false;
}

boost::optional<std::size_t> ChildProcess::WaitForLine(const std::regex& pattern, std::size_t from,
                                                       Clock::duration timeout) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    bool found = false;
    _changed.wait_for(lock, timeout, [&] { return (found = FindLine(pattern, from, nullptr)) || _exitStatus; });
    return found ? boost::make_optional(from) : boost::none;
}

std::vector<std::string> ChildProcess::MatchingLines(const std::regex& pattern, std::size_t from) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::string> lines;
    for (std::string line; FindLine(pattern, from, &line);) {
        lines.push_back(line);
    }
    return lines;
}

boost::optional<int> ChildProcess::WaitForExit(Clock::duration timeout) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait_for(lock, timeout, [this] { return _exitStatus.has_value(); });
    return _exitStatus;
}

Result Run(std::vector<std::string> arguments, std::chrono::seconds timeout)
{
    ChildProcess child(std::move(arguments));
    const auto status = child.WaitForExit(timeout);
    return {status.value_or(-1), child.Output()};
}

}  // namespace Testing
}  // namespace Oru
