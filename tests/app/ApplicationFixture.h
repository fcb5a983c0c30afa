// The application assembled as the plug-in's entry point assembles it, for
// tests: a virtual clock instead of the worker thread (the test runs the
// event loop), simulated base stations behind a fake mDNS network and fake
// web APIs, the real error handler and configuration manager, and a
// recording host serving the ETS parameters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <log4cplus/appender.h>

#include "tests/testing/FakeKeldraWebApi.h"
#include "tests/testing/FakeMDnsClient.h"
#include "tests/testing/LogCapture.h"
#include "tests/testing/RecordingHost.h"
#include "tests/testing/VirtualClockSystem.h"
#include "app/OruKeldraApp.h"
#include "basestations/BaseStationManager.h"
#include "basestations/KeldraJson.h"

namespace Keldra {
namespace Testing {

using Lines = std::vector<std::string>;

// A base station on the simulated network, with its ETS configuration and
// the status it answers.
struct SimulatedStation {
    std::string id;                        // 10 characters
    std::uint32_t address = 0;             // IPv4 in host order
    std::vector<std::string> thermostats;  // the 8-byte IDs in thermostat order
    std::vector<unsigned> actorModules;    // the actor module numbers in slot order
    KeldraJson::StatusObject status;
};

// Station 1 "A1B2C3D4E5" at 192.168.1.10, rooms in the station's order:
//   room 1: actor module 3 (slot 1), level 4
//   room 2: THERM002 (thermostat 2), setpoint 19.5, nothing measured
//   room 3: THERM001 (thermostat 1), setpoint 21.0, measured 20.5, range 5..30
//   room 4: actor module 5 (slot 2), level 7, percentage 180
//   system code "0-0", 24-05-20 10:00:00, heating; no errors; not leaving.
// Station 2 "B1B2C3D4E5" at 192.168.1.11:
//   room 1: THERM101 (thermostat 1), setpoint 20.0, measured 19.0
//   room 2: actor module 1 (slot 1), level 2
SimulatedStation Station1();
SimulatedStation Station2();
std::vector<SimulatedStation> DefaultStations();

// While it exists, log lines reach only the LogCaptures, not the console:
// for tests that log hundreds of thousands of lines.
class QuietConsole {
public:
    QuietConsole();
    ~QuietConsole();
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    log4cplus::SharedAppenderPtrList _removed;
};

class ApplicationFixture {
public:
    // The host serves the ETS parameters of the stations (IDs, rooms, actor
    // module groups, thermostat IDs, absence mode); the stations are
    // announced; the credentials file in the host's configuration directory
    // holds "installer"/"secret" for each of them.
    explicit ApplicationFixture(std::vector<SimulatedStation> stations = DefaultStations(),
                                std::int32_t absenceMode = 0);
    ~ApplicationFixture();
    ApplicationFixture(const ApplicationFixture&) = delete;
    ApplicationFixture& operator=(const ApplicationFixture&) = delete;

    bool Init() { return app->Init(&host); }
    // Init and Run, then the event loop until every announced station is
    // found, checked and polled once. Fails the test when Init fails.
    void Start();
    // The next status poll of every station (5 seconds of virtual time).
    void Poll() { clock.Advance(boost::chrono::seconds(5)); }
    void RunPending() { clock.RunPending(); }
    // Forgets what the host and the log recorded.
    void ClearRecords();

    // The web API object last created for configured station index (0-based).
    std::shared_ptr<FakeKeldraWebApi> WebApiOf(std::size_t station) const;
    // The manager the application built; null before Init.
    BaseStationManager* Manager() const { return _manager; }

    Oru::Testing::VirtualClockSystem clock;
    Oru::Testing::LogCapture log;
    Oru::Testing::RecordingHost host;
    FakeWebApiFactory webApis;
    std::shared_ptr<FakeMDnsClient::Network> network = std::make_shared<FakeMDnsClient::Network>();
    std::vector<SimulatedStation> stations;
    int exitCalls = 0;
    std::unique_ptr<KeldraApp> app;

private:
    boost::filesystem::path _configurationDirectory;
    BaseStationManager* _manager = nullptr;
};

}  // namespace Testing
}  // namespace Keldra
