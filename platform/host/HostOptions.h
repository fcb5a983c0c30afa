// The command line of the gateway host program.
#pragma once

#include <string>
#include <vector>

#include <boost/optional.hpp>
#include <log4cplus/loglevel.h>

namespace Oru {

struct HostOptions {
    // The gateway's configuration directory of the plug-in; the product web
    // service names the credentials file in it by its fixed path.
    static constexpr const char* DefaultConfigurationDirectory = "/opt/userdata/oruAppConfigRoot/1";
    // The settings of the service (--daemon).
    static constexpr const char* DefaultConfigurationFile = "/etc/keldra/gateway.conf";

    std::string pluginPath;  // empty: libkeldraapp.so next to the program
    std::string parameterFile;  // empty: no ETS parameters
    std::string configurationDirectory = DefaultConfigurationDirectory;
    boost::optional<unsigned short> httpPort;  // the configuration page; none: off
    std::string scriptFile;  // empty: console lines from standard input
    std::string knxUrl;  // knxd ("local:/run/knx", "ip:HOST[:PORT]"); empty: no bus
    std::string knxMapFile;  // empty: the default group address map
    bool printKnxMap = false;  // print the default map and stop
    bool printKnxXml = false;  // print it as an ETS group address import and stop
    std::string configurationFile;  // empty: none, or DefaultConfigurationFile with --daemon
    // The plug-in's log level; none: trace on the console, info as a service.
    boost::optional<log4cplus::LogLevel> logLevel;
    bool daemon = false;  // a service without the bus console
    bool help = false;
};

// The options after the program name ("--name value" or "--name=value");
// empty with the reason in `error` when they are not understood.
boost::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& arguments, std::string& error);

// The options of the command line over those of the configuration file:
// the one --config names, or DefaultConfigurationFile with --daemon when it
// exists.
boost::optional<HostOptions> LoadHostOptions(const std::vector<std::string>& arguments, std::string& error);

std::string HostUsage(const std::string& program);

}  // namespace Oru
