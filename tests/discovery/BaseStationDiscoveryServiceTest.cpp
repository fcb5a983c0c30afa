#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include "tests/testing/FakeMDnsClient.h"
#include "tests/testing/LogCapture.h"
#include "tests/testing/VirtualClockSystem.h"
#include "discovery/BaseStationDiscoveryService.h"

using namespace Keldra;
using boost::chrono::milliseconds;
using boost::chrono::seconds;
using Keldra::Testing::FakeMDnsClient;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Network = FakeMDnsClient::Network;
using Txt = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

namespace {

const Txt StationTxt = {{"Vendor", "Keldra"}, {"Model", "Brisgo"}};

DeviceInfo Device(const std::string& name, const std::string& type = "_https._tcp")
{
    return DeviceInfo{name, type, "local", 2};
}

ServiceInfo Service(const std::string& name, Txt txt = StationTxt)
{
    return ServiceInfo{name, name + ".local", 0xC0A8010A, 443, std::move(txt)};
}

class DiscoveryTest : public ::testing::Test {
protected:
    // Records each report as "name@milliseconds since the scenario began".
    void CreateService()
    {
        _service = std::make_unique<BaseStationDiscoveryService>(
            [this]() { return _clock.CreateTimer(); }, FakeMDnsClient::Factory(_network), seconds(10),
            [this](std::shared_ptr<ServiceInfo> service) {
                _reports.push_back(service->name + "@" + std::to_string(Now()));
                if (_stopOnReport) {
                    _service->Stop();
                }
            });
    }

    void Announce(const std::string& name, Txt txt = StationTxt)
    {
        _network->Announce(Device(name), Service(name, std::move(txt)));
    }
    long long Now() { return boost::chrono::duration_cast<milliseconds>(_clock.GetNow() - _start).count(); }
    std::size_t BrowseCount() const { return _network->Arguments("Browse").size(); }

    LogCapture _log;
    VirtualClockSystem _clock;
    VirtualClockSystem::TimePoint _start = _clock.GetNow();
    std::shared_ptr<Network> _network = std::make_shared<Network>();
    Names _reports;
    bool _stopOnReport = false;
    std::unique_ptr<BaseStationDiscoveryService> _service;
};

// "+name" announces an instance, "-name" withdraws it, "!name" announces it
// and reports it found; "S" starts, "T" stops, "R" runs what is queued, "X"
// lets the ten-second wait expire without running its handler, "H" holds the
// answers of later resolves, "L" lets the held ones go, "C" makes the report
// callback stop the search, a number advances the clock by milliseconds. Then
// the service is destroyed and held answers go.
TEST_F(DiscoveryTest, StartStopAndSearchScenarios)
{
    const struct {
        const char* description;
        const char* steps;
        Names reports;
        std::size_t browses, starts, stops;
    } scenarios[] = {
        {"lists and resolves afresh every ten seconds while active", "+plavo-A1 S R 9999 +plavo-B2 1 -plavo-A1 10000",
         {"plavo-A1@0", "plavo-A1@10000", "plavo-B2@10000", "plavo-B2@20000"}, 3, 1, 0},
        {"Stop ends the search", "+plavo-A1 S R T 30000", {"plavo-A1@0"}, 1, 1, 1},
        {"every Start and Stop is logged, only a change of state acts; a restart searches at once",
         "+plavo-A1 T S T 30000 S T S S 3000 S R T T S 10000",
         {"plavo-A1@30000", "plavo-A1@33000", "plavo-A1@43000"}, 3, 6, 5},
        {"an expiry that raced with a restart runs no cycle", "+plavo-A1 S R X T S R 10000",
         {"plavo-A1@0", "plavo-A1@10000", "plavo-A1@20000"}, 3, 2, 1},
        {"a search queued by Start does not run after destruction", "+plavo-A1 S", {}, 0, 1, 0},
        {"a station reported new is resolved at once while active, in the search's rhythm",
         "!plavo-N0 R S R 3000 !plavo-N1 R !printer R 7000 T !plavo-N2 R",
         {"plavo-N0@0", "plavo-N1@3000", "plavo-N0@10000", "plavo-N1@10000"}, 2, 1, 1},
        {"a late resolve counts while its search is current, not after a restart or destruction",
         "+plavo-A1 H S R L R 10000 T S R L R 10000", {"plavo-A1@0", "plavo-A1@10000"}, 4, 2, 1},
        {"the report callback may stop the search", "+plavo-A1 +plavo-A2 C S 30000", {"plavo-A1@0"}, 1, 1, 1},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.description);
        _reports.clear();
        _log.Clear();
        _network = std::make_shared<Network>();
        _start = _clock.GetNow();
        _stopOnReport = false;
        CreateService();
        std::istringstream words(scenario.steps);
        for (std::string step; words >> step;) {
            if (step[0] == '+' || step[0] == '!') {
                Announce(step.substr(1));
                if (step[0] == '!') {
                    _network->ReportFound(Device(step.substr(1)));
                }
            } else if (step[0] == '-') {
                _network->Withdraw(step.substr(1));
            } else if (step == "S" || step == "T") {
                step == "S" ? _service->Start() : _service->Stop();
            } else if (step == "R") {
                _clock.RunPending();
            } else if (step == "X") {
                _clock.ExpireWithoutRunning(seconds(10));
            } else if (step == "H") {
                _network->HoldResolves();
            } else if (step == "L") {
                _network->ReleaseHeldResolves();
            } else if (step == "C") {
                _stopOnReport = true;
            } else {
                _clock.Advance(milliseconds(std::stoi(step)));
            }
        }
        _service.reset();
        _network->ReleaseHeldResolves();
        _clock.Advance(seconds(30));
        EXPECT_EQ(scenario.reports, _reports);
        EXPECT_EQ(scenario.browses, BrowseCount());
        EXPECT_EQ(scenario.starts, _log.Count(log4cplus::INFO_LOG_LEVEL, "Start base station discovery"));
        EXPECT_EQ(scenario.stops, _log.Count(log4cplus::INFO_LOG_LEVEL, "Stop base station discovery"));
        EXPECT_EQ(scenario.starts + scenario.stops, _log.Entries().size());
        EXPECT_EQ(0U, _clock.PendingWaitCount());
        EXPECT_EQ(0U, _clock.TimerCount());
        EXPECT_EQ(0U, _network->ClientCount());
    }
}

TEST_F(DiscoveryTest, OnlyBaseStationNamesAreResolvedAndOnlyKeldraBrisgoRecordsReported)
{
    for (const auto* name : {"Plavo-A1", "PLAVO-A2", "my-plavo-A3", "plavo", "plavo_A4", ""}) {
        Announce(name);
    }
    _network->Announce(Device("plavo-T1", "_http._tcp"), Service("plavo-T1"));  // another service type
    _network->Announce(Device("plavo-F1"), boost::none);                        // resolving fails
    Announce("plavo-");
    // Records named plavo-R<index>, and whether they are reported.
    const std::vector<std::pair<Txt, bool>> records = {
        {StationTxt, true},
        {{{"Vendor", "Keldra"}, {"Model", "Brisgo"}, {"Serial", "1"}, {"", ""}}, true},
        {{{"Vendor", "keldra"}, {"Model", "Brisgo"}}, false},
        {{{"Vendor", "Keldra "}, {"Model", "Brisgo"}}, false},
        {{{"Vendor", "Keldra"}, {"Model", "brisgo"}}, false},
        {{{"Vendor", "Brisgo"}, {"Model", "Keldra"}}, false},
        {{{"vendor", "Keldra"}, {"Model", "Brisgo"}}, false},
        {{{"Vendor", "Keldra"}}, false},
        {{{"Model", "Brisgo"}}, false},
    };
    Names expectedResolves = {"plavo-F1", "plavo-"};
    Names expectedReports = {"plavo-@0"};
    for (std::size_t index = 0; index < records.size(); ++index) {
        const auto name = "plavo-R" + std::to_string(index);
        Announce(name, records[index].first);
        expectedResolves.push_back(name);
        if (records[index].second) {
            expectedReports.push_back(name + "@0");
        }
    }

    CreateService();
    _service->Start();
    _clock.RunPending();
    EXPECT_EQ(expectedResolves, _network->Arguments("Resolve"));
    EXPECT_EQ(expectedReports, _reports);
    // Ignored records leave no trace in the log.
    EXPECT_EQ(1U, _log.Entries().size());
}

}  // namespace
