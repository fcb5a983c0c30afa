#include "ConsoleInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include <boost/asio/post.hpp>

namespace Oru {
namespace {

// Longer lines are dropped.
constexpr std::size_t MaximumLineLength = 64 * 1024;

bool ReadableNow(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

std::shared_ptr<ConsoleInput> ConsoleInput::FromDescriptor(boost::asio::io_service& ioService, int fd,
                                                           BusConsole& console, DeliverFunction deliver,
                                                           QuitFunction quit)
{
    std::shared_ptr<ConsoleInput> input(new ConsoleInput(ioService, console, std::move(deliver), std::move(quit)));
    input->_fd = fd;
    input->_input = std::make_unique<boost::asio::posix::stream_descriptor>(ioService);
    boost::system::error_code error;
    input->_input->assign(fd, error);
    if (error) {
        // Closed or unusable: no console input.
        input->_input.reset();
        input->_ended = true;
    }
    return input;
}

std::shared_ptr<ConsoleInput> ConsoleInput::FromLines(boost::asio::io_service& ioService,
                                                      std::vector<std::string> lines, BusConsole& console,
                                                      DeliverFunction deliver, QuitFunction quit)
{
    std::shared_ptr<ConsoleInput> input(new ConsoleInput(ioService, console, std::move(deliver), std::move(quit)));
    input->_lines.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    input->_ended = true;
    input->_isScript = true;
    return input;
}

ConsoleInput::ConsoleInput(boost::asio::io_service& ioService, BusConsole& console, DeliverFunction deliver,
                           QuitFunction quit)
    : _ioService(ioService),
      _console(console),
      _deliver(std::move(deliver)),
      _quit(std::move(quit)),
      _sleepTimer(ioService)
{
}

ConsoleInput::~ConsoleInput()
{
    if (_input) {
        // The descriptor belongs to the process, not to us.
        boost::system::error_code ignored;
        _input->cancel(ignored);
        _input->release();
    }
}

void ConsoleInput::Start()
{
    boost::asio::post(_ioService, [self = shared_from_this()]() { self->ProcessLines(); });
}

void ConsoleInput::Stop()
{
    _stopped = true;
    boost::system::error_code ignored;
    _sleepTimer.cancel(ignored);
    if (_input) {
        _input->cancel(ignored);
    }
}

void ConsoleInput::ProcessLines()
{
    while (!_stopped && !_sleeping && !_lines.empty()) {
        const std::string line = std::move(_lines.front());
        _lines.pop_front();
        ++_lineNumber;
        const ConsoleCommand command = ParseConsoleLine(line);
        if (const auto* deliver = std::get_if<DeliverValueCommand>(&command)) {
            _deliver(*deliver);
        } else if (const auto* sleep = std::get_if<SleepCommand>(&command)) {
            _sleeping = true;
            _sleepTimer.expires_after(sleep->duration);
            _sleepTimer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
                self->_sleeping = false;
                if (!error) {
                    self->ProcessLines();
                }
            });
        } else if (std::holds_alternative<HelpCommand>(command)) {
            _console.Print(ConsoleHelpText());
        } else if (std::holds_alternative<QuitCommand>(command)) {
            _stopped = true;
            _quit();
        } else if (const auto* error = std::get_if<ConsoleSyntaxError>(&command)) {
            _console.Print(std::string(_isScript ? "script " : "") + "line " + std::to_string(_lineNumber) + ": " +
                           error->message + " (type help for the syntax)\n");
        }
    }
    if (_stopped || _sleeping || !_lines.empty()) {
        return;
    }
    if (_ended) {
        if (_isScript) {
            _isScript = false;  // said once
            _console.Print("End of script; the host runs until SIGINT, SIGTERM or quit.\n");
        }
        return;
    }
    WaitForInput();
}

void ConsoleInput::WaitForInput()
{
    // The reactor reports only new input; what is left from the last read
    // is read at once.
    if (_alwaysReadable || ReadableNow(_fd)) {
        boost::asio::post(_ioService, [self = shared_from_this()]() {
            if (!self->_stopped) {
                self->ReadAvailable();
            }
        });
        return;
    }
    // A wait, not a read: asio would switch the descriptor, which the
    // terminal shares, to non-blocking mode.
    _input->async_wait(boost::asio::posix::descriptor_base::wait_read,
                       [self = shared_from_this()](const boost::system::error_code& error) {
                           if (self->_stopped || error == boost::asio::error::operation_aborted) {
                               return;
                           }
                           if (error == boost::asio::error::operation_not_supported) {
                               self->_alwaysReadable = true;
                           } else if (error) {
                               self->EndOfInput();
                               return;
                           }
                           self->ReadAvailable();
                       });
}

void ConsoleInput::ReadAvailable()
{
    char buffer[4096];
    const ssize_t count = ::read(_fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        WaitForInput();
        return;
    }
    if (count <= 0) {
        EndOfInput();
        return;
    }
    AddInput(buffer, static_cast<std::size_t>(count));
    ProcessLines();
}

void ConsoleInput::AddInput(const char* data, std::size_t size)
{
    _partialLine.append(data, size);
    std::size_t start = 0;
    for (auto end = _partialLine.find('\n'); end != std::string::npos; end = _partialLine.find('\n', start)) {
        if (_discardingLine) {
            _discardingLine = false;
            _lines.emplace_back();  // keeps the line numbers right
        } else {
            _lines.push_back(_partialLine.substr(start, end - start));
        }
        start = end + 1;
    }
    _partialLine.erase(0, start);
    if (_partialLine.size() > MaximumLineLength) {
        _partialLine.clear();
        if (!_discardingLine) {
            _discardingLine = true;
            _console.Print("A line longer than " + std::to_string(MaximumLineLength) + " bytes is dropped.\n");
        }
    }
}

void ConsoleInput::EndOfInput()
{
    _ended = true;
    if (!_partialLine.empty() && !_discardingLine) {
        _lines.push_back(std::move(_partialLine));
        _partialLine.clear();
    }
    ProcessLines();
}

}  // namespace Oru
