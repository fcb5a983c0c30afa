#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

extern char** environ;

namespace Keldra {
namespace EndToEnd {
namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

void CloseDescriptor(int& descriptor)
{
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

// This process's environment with the given "NAME=value" entries added or replaced.
std::vector<std::string> MergeEnvironment(const std::vector<std::string>& additions)
{
    std::map<std::string, std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        entries[text.substr(0, text.find('='))] = text;
    }
    for (const auto& text : additions) {
        entries[text.substr(0, text.find('='))] = text;
    }
    std::vector<std::string> merged;
    for (const auto& entry : entries) {
        merged.push_back(entry.second);
    }
    return merged;
}

std::vector<char*> PointersOf(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

int DecodeStatus(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments, std::vector<std::string> environment)
    : _arguments(std::move(arguments))
{
    if (_arguments.empty()) {
        _error = "no program";
        return;
    }
    int inputPipe[2] = {-1, -1};
    int outputPipe[2] = {-1, -1};
    int wakePipe[2] = {-1, -1};
    if (::pipe2(inputPipe, O_CLOEXEC) != 0 || ::pipe2(outputPipe, O_CLOEXEC) != 0 ||
        ::pipe2(wakePipe, O_CLOEXEC) != 0) {
        _error = SystemError("pipe2");
        for (int descriptor : {inputPipe[0], inputPipe[1], outputPipe[0], outputPipe[1], wakePipe[0], wakePipe[1]}) {
            if (descriptor >= 0) {
                ::close(descriptor);
            }
        }
        return;
    }
    _input = inputPipe[1];
    _output = outputPipe[0];
    _wakeRead = wakePipe[0];
    _wakeWrite = wakePipe[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputPipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDERR_FILENO);
    // The tests ignore SIGPIPE; the child gets the default back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    auto argumentTexts = _arguments;
    auto environmentTexts = MergeEnvironment(environment);
    auto argv = PointersOf(argumentTexts);
    auto envp = PointersOf(environmentTexts);
    const int result = ::posix_spawn(&_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(inputPipe[0]);
    ::close(outputPipe[1]);
    if (result != 0) {
        _pid = -1;
        _error = "cannot start " + _arguments[0] + ": " + std::strerror(result);
        return;
    }
    _processDescriptor = static_cast<int>(::syscall(SYS_pidfd_open, _pid, 0));
    if (_processDescriptor < 0) {
        _error = SystemError("pidfd_open");
        ::kill(_pid, SIGKILL);
        ::waitpid(_pid, nullptr, 0);
        _pid = -1;
        return;
    }
    _watcher = std::thread([this] { Watch(); });
}

ChildProcess::~ChildProcess()
{
    if (_pid > 0 && !HasExited()) {
        ::kill(_pid, SIGKILL);
    }
    if (_watcher.joinable()) {
        // Waits for the child to be reaped; a grandchild that still holds the
        // output pipe does not keep the watcher.
        {
            std::unique_lock<std::mutex> lock(_mutex);
            _changed.wait(lock, [this] { return _exitStatus.is_initialized(); });
        }
        const char stop = 's';
        (void)!::write(_wakeWrite, &stop, 1);
        _watcher.join();
    }
    CloseDescriptor(_input);
    CloseDescriptor(_output);
    CloseDescriptor(_processDescriptor);
    CloseDescriptor(_wakeRead);
    CloseDescriptor(_wakeWrite);
}

std::string ChildProcess::CommandLine() const
{
    std::string line;
    for (const auto& argument : _arguments) {
        line += (line.empty() ? "" : " ") + argument;
    }
    return line;
}

void ChildProcess::Watch()
{
    bool outputOpen = true;
    bool running = true;
    // One read of the output; false once it is closed.
    auto readOutput = [this] {
        char buffer[4096];
        const ssize_t count = ::read(_output, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (count > 0) {
                _collected.append(buffer, static_cast<std::size_t>(count));
            } else {
                _outputClosed = true;
            }
        }
        _changed.notify_all();
        return count > 0;
    };
    auto reap = [this](int options) {
        int status = 0;
        if (::waitpid(_pid, &status, options) != _pid) {
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _exitStatus = DecodeStatus(status);
        }
        _changed.notify_all();
        return true;
    };
    for (;;) {
        pollfd watched[3] = {{_wakeRead, POLLIN, 0},
                             {outputOpen ? _output : -1, POLLIN, 0},
                             {running ? _processDescriptor : -1, POLLIN, 0}};
        if (::poll(watched, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (running) {
                reap(0);
            }
            return;
        }
        if (watched[1].revents != 0) {
            outputOpen = readOutput();
        }
        if (watched[2].revents != 0) {
            // What the child wrote last is collected before its end is
            // reported; a grandchild that goes on writing is not waited for.
            for (std::size_t drained = 0; outputOpen && drained < 256; ++drained) {
                pollfd output = {_output, POLLIN, 0};
                if (::poll(&output, 1, 0) != 1) {
                    break;
                }
                outputOpen = readOutput();
            }
            running = !reap(WNOHANG);
        }
        if (watched[0].revents != 0) {
            return;
        }
    }
}

bool ChildProcess::WriteLine(const std::string& line)
{
    if (_input < 0) {
        return false;
    }
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(_input, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

void ChildProcess::Signal(int signalNumber)
{
    if (_pid > 0 && !HasExited()) {
        ::kill(_pid, signalNumber);
    }
}

std::string ChildProcess::Output() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _collected;
}

boost::optional<std::size_t> ChildProcess::WaitForLine(const std::regex& pattern, std::size_t from,
                                                       Clock::duration timeout) const
{
    const auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(_mutex);
    std::size_t lineStart = from;
    for (;;) {
        std::size_t lineEnd;
        while ((lineEnd = _collected.find('\n', lineStart)) != std::string::npos) {
            if (std::regex_search(_collected.begin() + static_cast<std::ptrdiff_t>(lineStart),
                                  _collected.begin() + static_cast<std::ptrdiff_t>(lineEnd), pattern)) {
                return lineEnd + 1;
            }
            lineStart = lineEnd + 1;
        }
        // A last line without a line feed is not complete and never matches.
        if (_outputClosed || !_changed.wait_until(lock, deadline, [&] {
                return _outputClosed || _collected.find('\n', lineStart) != std::string::npos;
            })) {
            if (!_outputClosed || _collected.find('\n', lineStart) == std::string::npos) {
                return boost::none;
            }
        }
    }
}

std::vector<std::string> ChildProcess::MatchingLines(const std::regex& pattern, std::size_t from) const
{
    std::vector<std::string> lines;
    std::lock_guard<std::mutex> lock(_mutex);
    std::size_t lineStart = from;
    std::size_t lineEnd;
    while ((lineEnd = _collected.find('\n', lineStart)) != std::string::npos) {
        std::string line = _collected.substr(lineStart, lineEnd - lineStart);
        if (std::regex_search(line, pattern)) {
            lines.push_back(std::move(line));
        }
        lineStart = lineEnd + 1;
    }
    return lines;
}

boost::optional<int> ChildProcess::WaitForExit(Clock::duration timeout)
{
    if (_pid <= 0) {
        return boost::none;
    }
    std::unique_lock<std::mutex> lock(_mutex);
    if (!_changed.wait_for(lock, timeout, [this] { return _exitStatus.is_initialized(); })) {
        return boost::none;
    }
    return _exitStatus;
}

bool ChildProcess::HasExited() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _exitStatus.is_initialized();
}

}  // namespace EndToEnd
}  // namespace Keldra
