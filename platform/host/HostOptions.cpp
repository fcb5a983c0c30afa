#include "HostOptions.h"

#include <cstdlib>
#include <fstream>
#include <map>

#include <boost/filesystem/operations.hpp>

#include "HostConfigurationFile.h"

namespace Oru {
namespace {

boost::optional<unsigned short> ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return boost::none;
    }
    const long port = std::strtol(text.c_str(), nullptr, 10);
    if (port > 65535) {
        return boost::none;
    }
    return static_cast<unsigned short>(port);
}

boost::optional<log4cplus::LogLevel> ParseLogLevel(const std::string& text)
{
    static const std::map<std::string, log4cplus::LogLevel> levels = {
        {"trace", log4cplus::TRACE_LOG_LEVEL}, {"debug", log4cplus::DEBUG_LOG_LEVEL},
        {"info", log4cplus::INFO_LOG_LEVEL},   {"warning", log4cplus::WARN_LOG_LEVEL},
        {"error", log4cplus::ERROR_LOG_LEVEL},
    };
    const auto level = levels.find(text);
    return level == levels.end() ? boost::none : boost::make_optional(level->second);
}

}  // namespace

boost::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& arguments, std::string& error)
{
    HostOptions options;
    const std::map<std::string, std::string*> texts = {
        {"--plugin", &options.pluginPath},
        {"--parameters", &options.parameterFile},
        {"--config-dir", &options.configurationDirectory},
        {"--script", &options.scriptFile},
        {"--knx", &options.knxUrl},
        {"--knx-map", &options.knxMapFile},
        {"--config", &options.configurationFile},
    };
    const std::map<std::string, bool*> flags = {
        {"--help", &options.help},
        {"-h", &options.help},
        {"--daemon", &options.daemon},
        {"--print-knx-map", &options.printKnxMap},
        {"--print-knx-xml", &options.printKnxXml},
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        boost::optional<std::string> value;
        const auto equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const auto flag = flags.find(name);
        if (flag != flags.end() && !value) {
            *flag->second = true;
            continue;
        }
        const auto text = texts.find(name);
        if (text == texts.end() && name != "--http-port" && name != "--log-level") {
            error = "unknown option '" + arguments[i] + "'";
            return boost::none;
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                error = "option " + name + " needs a value";
                return boost::none;
            }
            value = arguments[++i];
        }
        if (name == "--http-port") {
            options.httpPort = ParsePort(*value);
            if (!options.httpPort) {
                error = "bad port '" + *value + "': expected 0..65535";
                return boost::none;
            }
        } else if (name == "--log-level") {
            options.logLevel = ParseLogLevel(*value);
            if (!options.logLevel) {
                error = "bad log level '" + *value + "': expected trace, debug, info, warning or error";
                return boost::none;
            }
        } else if (value->empty()) {
            error = "option " + name + " needs a value";
            return boost::none;
        } else {
            *text->second = *value;
        }
    }
    return options;
}

boost::optional<HostOptions> LoadHostOptions(const std::vector<std::string>& arguments, std::string& error)
{
    const auto commandLine = ParseHostOptions(arguments, error);
    if (!commandLine) {
        return boost::none;
    }
    std::string path = commandLine->configurationFile;
    if (path.empty() && commandLine->daemon) {
        boost::system::error_code missing;
        if (!boost::filesystem::exists(HostOptions::DefaultConfigurationFile, missing)) {
            return commandLine;
        }
        path = HostOptions::DefaultConfigurationFile;
    }
    if (path.empty()) {
        return commandLine;
    }
    std::ifstream input(path);
    if (!input) {
        error = "cannot read the configuration file '" + path + "'";
        return boost::none;
    }
    auto file = ReadHostConfigurationFile(input);
    if (!file.errors.empty()) {
        error = path + ": " + file.errors.front();
        return boost::none;
    }
    file.arguments.insert(file.arguments.end(), arguments.begin(), arguments.end());
    auto options = ParseHostOptions(file.arguments, error);
    if (!options) {
        error = path + " or command line: " + error;
    }
    return options;
}

std::string HostUsage(const std::string& program)
{
    return "Usage: " + program + R"( [options]
Runs a gateway plug-in as the KNX gateway does: loads it, creates the
application, Init, Run; prints every value it sends and takes bus values from
the console; on SIGINT, SIGTERM or "quit": Exit and delete.

  --plugin PATH       the plug-in library (default: libkeldraapp.so next to this program)
  --parameters FILE   the ETS application parameters (format: docs/ets-parameters.md);
                      without it the plug-in finds no parameter
  --config-dir DIR    the plug-in's configuration directory, created when missing
                      (default: /opt/userdata/oruAppConfigRoot/1, the directory the
                      product web service's credentials file is in)
  --http-port PORT    serve the base station configuration page on 127.0.0.1:PORT
                      (0: any free port, printed); off without this option
  --script FILE       take console lines from FILE instead of standard input
  --knx URL           on the KNX bus through knxd: local:/run/knx or ip:HOST[:PORT]
                      (docs/knx-bus.md)
  --knx-map FILE      the group address map (default: the layout --print-knx-map shows)
  --print-knx-map     print the default group address map of the --parameters and stop
  --print-knx-xml     print it as an ETS group address import (XML) and stop
  --log-level LEVEL   the plug-in's log level: trace, debug, info, warning or error
                      (default: trace; info with --daemon)
  --daemon            run as a service: no bus console, readiness, stopping and
                      the watchdog reported to systemd, settings read from
                      /etc/keldra/gateway.conf when it exists
  --config FILE       read the settings from FILE: one "option = value" a line,
                      named as the long options above; the command line overrides it
  --help              this text

Exit status: 0 after a clean stop, 1 when the plug-in fails to start,
2 for a bad command line, parameter file, directory, plug-in, port or map.
Console syntax: type "help".
)";
}

}  // namespace Oru
