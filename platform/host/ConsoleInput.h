// Reads bus console lines from standard input or a script file on the
// host's event loop and carries them out: values go to the plug-in, "sleep"
// pauses before the next line, "help" prints the syntax, "quit" stops the
// host. Errors are printed with the line number; reading goes on.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "BusConsole.h"
#include "ConsoleCommand.h"

namespace Oru {

class ConsoleInput : public std::enable_shared_from_this<ConsoleInput> {
public:
    using DeliverFunction = std::function<void(const DeliverValueCommand&)>;
    using QuitFunction = std::function<void()>;

    // Lines from an open file descriptor (standard input), which stays open
    // and in blocking mode. At its end the input just stops.
    static std::shared_ptr<ConsoleInput> FromDescriptor(boost::asio::io_service& ioService, int fd,
                                                        BusConsole& console, DeliverFunction deliver,
                                                        QuitFunction quit);
    // The lines of a script, given whole.
    static std::shared_ptr<ConsoleInput> FromLines(boost::asio::io_service& ioService, std::vector<std::string> lines,
                                                   BusConsole& console, DeliverFunction deliver, QuitFunction quit);

    ~ConsoleInput();
    ConsoleInput(const ConsoleInput&) = delete;
    ConsoleInput& operator=(const ConsoleInput&) = delete;

    void Start();
    // No line is carried out afterwards.
    void Stop();

private:
    ConsoleInput(boost::asio::io_service& ioService, BusConsole& console, DeliverFunction deliver, QuitFunction quit);

    void ProcessLines();
    void WaitForInput();
    void ReadAvailable();
    void AddInput(const char* data, std::size_t size);
    void EndOfInput();

    boost::asio::io_service& _ioService;
    BusConsole& _console;
    DeliverFunction _deliver;
    QuitFunction _quit;
    boost::asio::steady_timer _sleepTimer;
    std::unique_ptr<boost::asio::posix::stream_descriptor> _input;  // empty for a script
    int _fd = -1;
    bool _alwaysReadable = false;  // a regular file or /dev/null: epoll cannot watch it
    bool _ended = false;           // no more lines will come
    bool _sleeping = false;
    bool _stopped = false;
    bool _isScript = false;
    bool _discardingLine = false;  // the rest of a line that was too long
    std::string _partialLine;
    std::deque<std::string> _lines;
    int _lineNumber = 0;
};

}  // namespace Oru
