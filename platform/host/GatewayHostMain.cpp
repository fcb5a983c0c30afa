// keldra-gateway-host: the substitute KNX gateway. Loads a plug-in as the
// gateway does and runs it with a bus console and the configuration page.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/filesystem.hpp>

#include "BusConsole.h"
#include "ConfigurationPageServer.h"
#include "ConsoleInput.h"
#include "EtsParameterFile.h"
#include "GatewayHost.h"
#include "HostOptions.h"
#include "KnxStartup.h"
#include "LiveView.h"
#include "LogRing.h"
#include "OruLogging.h"
#include "PluginLibrary.h"
#include "ServiceNotifier.h"

namespace {

using namespace Oru;

constexpr int ExitClean = 0;
constexpr int ExitPluginFailed = 1;
constexpr int ExitBadSetup = 2;

const char* const PluginFileName = "libkeldraapp.so";

// The gateway offers its product web services nothing more yet.
class CommonWebService final : public ICommonWebService {};

// SIGINT and SIGTERM arrive through a descriptor on the event loop; they are
// blocked before any thread starts, so no thread is interrupted by them.
class StopSignals {
public:
    StopSignals()
    {
        sigemptyset(&_signals);
        sigaddset(&_signals, SIGINT);
        sigaddset(&_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &_signals, nullptr);
        _fd = ::signalfd(-1, &_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    }

    bool IsOpen() const { return _fd >= 0; }

    // Calls `stop` with the signal's name when one arrives.
    void Wait(boost::asio::io_service& ioService, std::function<void(const std::string&)> stop)
    {
        _stream = std::make_unique<boost::asio::posix::stream_descriptor>(ioService, _fd);
        _stream->async_wait(boost::asio::posix::descriptor_base::wait_read,
                            [this, stop](const boost::system::error_code& error) {
                                if (error) {
                                    return;
                                }
                                signalfd_siginfo information{};
                                const ssize_t count = ::read(_fd, &information, sizeof information);
                                const bool known = count == static_cast<ssize_t>(sizeof information);
                                stop(known ? ::strsignal(static_cast<int>(information.ssi_signo)) : "a signal");
                            });
    }

    // Before the event loop goes.
    void Forget() { _stream.reset(); }

private:
    sigset_t _signals{};
    int _fd = -1;
    std::unique_ptr<boost::asio::posix::stream_descriptor> _stream;  // owns and closes _fd
};

std::string DefaultPluginPath(const char* argv0)
{
    boost::system::error_code error;
    auto program = boost::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        program = boost::filesystem::absolute(argv0);
    }
    return (program.parent_path() / PluginFileName).string();
}

void Deliver(OruApp::IOruApp& app, BusConsole& console, const DeliverValueCommand& command)
{
    console.PrintReceived(command.co, command.value);
    std::visit([&app, &command](const auto& value) { app.OnValueReceived(command.co, value); }, command.value);
}

struct DeleteApp {
    PluginLibrary::DeleteApp deleteOruApp;
    void operator()(OruApp::IOruApp* app) const { deleteOruApp(app); }
};

// The phases of a run, in order. A phase that ends the run has written why.

boost::optional<EtsParameters> ReadParameterFile(const HostOptions& options)
{
    if (options.parameterFile.empty()) {
        return EtsParameters();
    }
    std::ifstream file(options.parameterFile);
    if (!file) {
        std::cerr << "Cannot read the parameter file '" << options.parameterFile << "'\n";
        return boost::none;
    }
    auto parsed = ParseEtsParameters(file);
    for (const auto& error : parsed.errors) {
        std::cerr << options.parameterFile << ": " << error << '\n';
    }
    if (!parsed.errors.empty()) {
        return boost::none;
    }
    return std::move(parsed.parameters);
}

boost::optional<std::vector<std::string>> ReadScript(const HostOptions& options)
{
    std::vector<std::string> script;
    if (options.scriptFile.empty()) {
        return script;
    }
    std::ifstream file(options.scriptFile);
    if (!file) {
        std::cerr << "Cannot read the script '" << options.scriptFile << "'\n";
        return boost::none;
    }
    for (std::string line; std::getline(file, line);) {
        script.push_back(line);
    }
    return script;
}

bool PrepareConfigurationDirectory(const HostOptions& options)
{
    boost::system::error_code directoryError;
    boost::filesystem::create_directories(options.configurationDirectory, directoryError);
    if (directoryError) {
        std::cerr << "Cannot create the configuration directory '" << options.configurationDirectory
                  << "': " << directoryError.message() << '\n';
        return false;
    }
    if (options.httpPort &&
        !boost::filesystem::equivalent(options.configurationDirectory, HostOptions::DefaultConfigurationDirectory,
                                       directoryError)) {
        std::cerr << "Note: the configuration page edits the credentials file in "
                  << HostOptions::DefaultConfigurationDirectory << ", the plug-in reads the one in "
                  << options.configurationDirectory << '\n';
    }
    return true;
}

// Init, then Run.
bool StartPlugin(OruApp::IOruApp& app, GatewayHost& host)
{
    try {
        if (!app.Init(&host)) {
            std::cerr << "The plug-in's Init failed\n";
            return false;
        }
        if (!app.Run()) {
            std::cerr << "The plug-in's Run failed\n";
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        std::cerr << "The plug-in failed to start: " << error.what() << '\n';
        return false;
    }
}

// The configuration page and what it shows: the plug-in's product web
// service and the live view.
struct ConfigurationPage {
    CommonWebService commonWebService;
    std::unique_ptr<IProductWebService> productWebService;
    std::unique_ptr<LiveView> liveView;
    std::unique_ptr<ConfigurationPageServer> server;
};

// The exit status: ExitClean while the page is served.
int ServeConfigurationPage(ConfigurationPage& page, const HostOptions& options, const PluginLibrary& plugin,
                          const std::string& pluginPath, GatewayHost& host, const LogRing& logRing,
                          boost::asio::io_service& ioService, BusConsole& console, LiveView::Deliver deliver)
{
    try {
        page.productWebService.reset(plugin.createProductWebService(page.commonWebService));
    } catch (const std::exception& error) {
        std::cerr << "The plug-in's product web service failed: " << error.what() << '\n';
    }
    if (!page.productWebService) {
        return ExitPluginFailed;
    }
    page.liveView = std::make_unique<LiveView>(
        LiveView::Installation{host.GetParameters(), options.configurationDirectory + "/orubasestationconfig.json",
                               pluginPath},
        host.GetLiveState(), logRing, std::move(deliver));
    page.server = std::make_unique<ConfigurationPageServer>(ioService, *page.productWebService, page.liveView.get());
    const auto error = page.server->Listen(*options.httpPort);
    if (error) {
        std::cerr << "Cannot serve the configuration page on port " << *options.httpPort << ": " << error.message()
                  << '\n';
        return ExitBadSetup;
    }
    console.Print("Configuration page: http://127.0.0.1:" + std::to_string(page.server->GetPort()) + "/\n");
    return ExitClean;
}

// Until a signal or the console's quit.
void RunEventLoop(const HostOptions& options, std::vector<std::string> script,
                  const ConsoleInput::DeliverFunction& deliver, boost::asio::io_service& ioService,
                  BusConsole& console, ServiceNotifier& service, StopSignals& signals)
{
    auto stop = [&ioService, &console, &service](const std::string& reason) {
        console.Print("Stopping (" + reason + ")\n");
        service.Stopping();
        ioService.stop();
    };
    signals.Wait(ioService, stop);
    auto quit = [stop]() { stop("quit"); };
    std::shared_ptr<ConsoleInput> input;
    if (!options.scriptFile.empty()) {
        input = ConsoleInput::FromLines(ioService, std::move(script), console, deliver, quit);
    } else if (!options.daemon) {
        input = ConsoleInput::FromDescriptor(ioService, STDIN_FILENO, console, deliver, quit);
    }
    if (input) {
        input->Start();
        console.Print("Running. Type 'help' for the console syntax.\n");
    } else {
        console.Print("Running.\n");
    }
    service.Ready();
    ioService.run();
    if (input) {
        input->Stop();
    }
    signals.Forget();
}

int RunHost(const HostOptions& options, const char* argv0, StopSignals& signals)
{
    auto parameters = ReadParameterFile(options);
    if (!parameters) {
        return ExitBadSetup;
    }
    if (options.printKnxMap || options.printKnxXml) {
        PrintKnxMap(options, *parameters, std::cout);
        return ExitClean;
    }
    boost::optional<Knx::GroupAddressMap> knxMap;
    if (!options.knxUrl.empty() && !(knxMap = LoadKnxMap(options, *parameters, std::cerr))) {
        return ExitBadSetup;
    }
    auto script = ReadScript(options);
    if (!script || !PrepareConfigurationDirectory(options)) {
        return ExitBadSetup;
    }
    const std::string pluginPath = options.pluginPath.empty() ? DefaultPluginPath(argv0) : options.pluginPath;
    std::string loadError;
    auto plugin = PluginLibrary::Load(pluginPath, loadError);
    if (!plugin) {
        std::cerr << loadError << '\n';
        return ExitBadSetup;
    }

    BusConsole console(std::cout, !options.daemon);
    GatewayHost host(std::move(*parameters), options.configurationDirectory, console);
    // The last log lines for the page's diagnostics; the plug-in's error
    // lines tell the live view which station an error concerns.
    auto* logRing = new LogRing([&host](const std::string& message) { host.GetLiveState().RecordLogMessage(message); });
    const log4cplus::SharedAppenderPtr logAppender(logRing);
    GetGlobalDefaultLogger().addAppender(logAppender);
    const std::shared_ptr<void> removeLogAppender(nullptr,
                                                  [&logAppender](void*) { GetGlobalDefaultLogger().removeAppender(logAppender); });
    boost::asio::io_service ioService;
    OruApp::IOruApp* busApp = nullptr;  // the bus delivers only to a running plug-in
    std::unique_ptr<Knx::KnxBus> knx;
    if (knxMap) {
        knx = StartKnxBus(options.knxUrl, std::move(*knxMap), ioService, console, host,
                          [&busApp, &console](int co, const BusValue& value) {
                              if (busApp) {
                                  Deliver(*busApp, console, DeliverValueCommand{co, value});
                              }
                          });
    }
    ServiceNotifier service(ioService);
    int status = ExitClean;
    {
        std::unique_ptr<OruApp::IOruApp, DeleteApp> app(plugin->createOruApp(), DeleteApp{plugin->deleteOruApp});
        if (!app) {
            std::cerr << "The plug-in could not create its application\n";
            return ExitPluginFailed;
        }
        console.Print("Plug-in " + pluginPath + " loaded\n");

        bool running = StartPlugin(*app, host);
        ConfigurationPage page;
        if (running && options.httpPort) {
            status = ServeConfigurationPage(page, options, *plugin, pluginPath, host, *logRing, ioService, console,
                                            [&app, &console](int co, const BusValue& value) {
                                                Deliver(*app, console, DeliverValueCommand{co, value});
                                            });
            running = status == ExitClean;
        } else if (!running) {
            status = ExitPluginFailed;
        }

        if (running) {
            busApp = app.get();
            RunEventLoop(
                options, std::move(*script),
                [&app, &console](const DeliverValueCommand& command) { Deliver(*app, console, command); }, ioService,
                console, service, signals);
            busApp = nullptr;
        }

        // As the gateway stops a plug-in: the page first, then Exit and
        // delete; the product web service is the plug-in's code too.
        if (page.server) {
            page.server->Close();
        }
        app->Exit(&host);
        app.reset();
        page.productWebService.reset();
    }
    console.Print("Stopped.\n");
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    // First, before any thread exists.
    StopSignals signals;
    ::signal(SIGPIPE, SIG_IGN);
    if (!signals.IsOpen()) {
        std::cerr << "Cannot receive signals: " << std::strerror(errno) << '\n';
        return ExitBadSetup;
    }

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const auto options = Oru::LoadHostOptions(arguments, error);
    if (!options) {
        std::cerr << error << "\n\n" << Oru::HostUsage(argv[0]);
        return ExitBadSetup;
    }
    if (options->help) {
        std::cout << Oru::HostUsage(argv[0]);
        return ExitClean;
    }
    // Before the plug-in logs its first line.
    const auto defaultLevel = options->daemon ? log4cplus::INFO_LOG_LEVEL : log4cplus::TRACE_LOG_LEVEL;
    Oru::GetGlobalDefaultLogger().setLogLevel(options->logLevel.value_or(defaultLevel));
    try {
        return RunHost(*options, argv[0], signals);
    } catch (const std::exception& failure) {
        std::cerr << "The host failed: " << failure.what() << '\n';
        return ExitPluginFailed;
    }
}
