#pragma once
// The fixture of the end-to-end tests: the lab ("gw" 10.77.13.1, "st1"
// 10.77.13.2, "st2" 10.77.13.3), the stations and the host of one test, and
// waits on the host's output. When a test fails, the output of every
// process is kept in the directory it names.
//
// Installation (ets-parameters.txt): base station 1 "KLD0000001" with room
// thermostat TH000001 (COs 1..3) and actor module 3 in slot 1 (COs 37..41);
// base station 2 "KLD0000002" with room thermostat TH000002 (COs 101..103).
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "Lab.h"

namespace Keldra::EndToEnd {
using Seconds = std::chrono::seconds;

inline const std::string DataDirectory = KELDRA_E2E_DATA;
// Discovery lists the stations every 10 s and a resolve may take 5 s.
constexpr Seconds DiscoveryTimeout{45};
// Stations are polled every 5 s.
constexpr Seconds PollTimeout{20};
// A station announced before the host starts is found at once, not at the
// second search 10 s later.
constexpr Seconds AnnouncedStationTimeout{5};

inline std::string Escaped(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
}

// A host output line to wait for: by default one containing the text.
struct Pattern {
    Pattern(const char* text) : Pattern(std::string(text)) {}
    Pattern(const std::string& text) : Pattern(text, std::regex(Escaped(text))) {}
    Pattern(std::string text, std::regex expression) : description(std::move(text)), regex(std::move(expression)) {}
    std::string description;
    std::regex regex;
};

// A value the plug-in sent on the bus, `value` being its type and value as
// the console prints them ("bool true", "text \"CommError\"").
inline Pattern Bus(int co, const std::string& value)
{
    const std::string prefix = "app->bus CO " + std::to_string(co);
    return {prefix + " (...) " + value, std::regex(prefix + " \\(.*\\) " + Escaped(value) + "$")};
}

inline Pattern Led(int code)
{
    const std::string text = "LED error code " + std::to_string(code);
    return {text, std::regex(text + "$")};
}

inline const Pattern Station1Found = "Found missing base station 1: plavo-KLD0000001: 10.77.13.2:443";
inline const Pattern Station2Found = "Found missing base station 2: plavo-KLD0000002: 10.77.13.3:443";
inline const Pattern Station1Polled = "@KLD0000001: Received status";
inline const Pattern Station2Polled = "@KLD0000002: Received status";

inline unsigned Requests(const rapidjson::Document& state, const char* path)
{
    const auto& byPath = state["counters"]["requestsByPath"];
    return byPath.HasMember(path) ? byPath[path].GetUint() : 0;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = Lab::Unavailable();
        if (!why.empty()) {
            GTEST_SKIP() << "End-to-end tests skipped: " << why;
        }
        char directory[] = "/tmp/keldra-e2e-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(directory));
        _directory = directory;
        _lab = std::make_unique<Lab>(std::vector<std::string>{"gw", "st1", "st2"});
    }

    void TearDown() override
    {
        if (IsSkipped()) {
            return;
        }
        std::ofstream(_directory + "/host.log") << (_host ? _host->Output() : "");
        for (std::size_t index = 0; index < _stations.size(); ++index) {
            std::ofstream(_directory + "/" + _stations[index]->Node() + "-" + std::to_string(index + 1) + ".log")
                << _stations[index]->Process().Output();
        }
        // The lab goes last: it ends whatever still runs in it.
        _host.reset();
        _stations.clear();
        _lab.reset();
        if (HasFailure()) {
            std::cerr << "The output of every process is kept in " << _directory << '\n';
        } else {
            boost::filesystem::remove_all(_directory);
        }
    }

    Station& StartStation(const std::string& node, const std::string& scenario,
                          std::vector<std::string> options = {"--announce"})
    {
        _stations.push_back(std::make_unique<Station>(*_lab, node, DataDirectory + "/" + scenario, std::move(options)));
        return *_stations.back();
    }

    // The plug-in's configuration directory as the machine sees it.
    std::string ConfigurationDirectory() const { return _directory + "/opt/userdata/oruAppConfigRoot/1"; }

    // The host in "gw" with the installation of `parameters`, the stations'
    // credentials (unless `credentials` is false) and `more` options; returns
    // once the plug-in runs. It runs in a mount namespace of its own where
    // the test's directory "opt" is /opt: the plug-in and the configuration
    // page use the gateway's fixed paths without touching the machine's /opt.
    void StartHost(const std::vector<std::string>& more = {},
                   const std::string& parameters = DataDirectory + "/ets-parameters.txt", bool credentials = true)
    {
        boost::filesystem::create_directories(ConfigurationDirectory());
        if (credentials) {
            // The passwords of station1.json and station2.json, Base64-encoded.
            std::ofstream(ConfigurationDirectory() + "/orubasestationconfig.json")
                << R"({"baseStations": [{"index": 0, "username": "admin", "credentials": "c2VjcmV0LTE="},)"
                << R"( {"index": 1, "username": "admin", "credentials": "c2VjcmV0LTI="}]})" << '\n';
        }
        std::vector<std::string> command = {"unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                                            "mount --bind \"$0\" /opt && exec \"$@\"", _directory + "/opt",
                                            KELDRA_GATEWAY_HOST, "--plugin", KELDRA_PLUGIN, "--parameters", parameters};
        command.insert(command.end(), more.begin(), more.end());
        _host = _lab->Start("gw", command);
        Await("Running. Type 'help'", 0, Seconds(60));
    }

    // "quit" on the console; the host's exit status.
    int StopHost()
    {
        _host->Write("quit\n");
        return _host->WaitForExit(Seconds(60)).value_or(-1);
    }

    // The end of the first host output line after `from` that matches; throws when none comes in time.
    std::size_t Await(const Pattern& pattern, std::size_t from, Seconds timeout = PollTimeout)
    {
        if (const auto end = _host->WaitForLine(pattern.regex, from, timeout)) {
            return *end;
        }
        throw std::runtime_error("the host printed no line '" + pattern.description + "' within " +
                                 std::to_string(timeout.count()) + " s" +
                                 (_host->HasExited() ? " (the host has ended)" : ""));
    }
    // Each pattern after the line of the one before it; the end of the last.
    std::size_t AwaitInOrder(std::size_t from, std::initializer_list<Pattern> patterns)
    {
        for (const auto& pattern : patterns) {
            from = Await(pattern, from);
        }
        return from;
    }
    // Every pattern after `from`, in any order.
    void AwaitAll(std::size_t from, std::initializer_list<Pattern> patterns)
    {
        for (const auto& pattern : patterns) {
            Await(pattern, from);
        }
    }
    std::size_t OutputEnd() const { return _host->Output().size(); }
    std::vector<std::string> Lines(const Pattern& pattern, std::size_t from = 0) const
    {
        return _host->MatchingLines(pattern.regex, from);
    }

    std::string _directory;
    std::unique_ptr<Lab> _lab;
    // Every station started, restarted ones too, in start order.
    std::vector<std::unique_ptr<Station>> _stations;
    std::unique_ptr<ChildProcess> _host;
};

}  // namespace Keldra::EndToEnd
