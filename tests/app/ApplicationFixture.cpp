#include "ApplicationFixture.h"

#include <utility>

#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>
#include <gtest/gtest.h>

#include "platform/host/OruLogging.h"
#include "discovery/KeldraConfigurationManager.h"
#include "discovery/KeldraConfigurationReader.h"
#include "rooms/ErrorCodeHandler.h"
#include "tests/basestations/BaseStationTestSupport.h"

namespace Keldra {
namespace Testing {
namespace {

KeldraJson::StatusObject StatusWith(std::vector<KeldraJson::RoomObject> rooms)
{
    KeldraJson::StatusObject status;
    status.system = {std::string("SN-0001"), std::string("Ground floor"), std::string("0-0"), "24-05-20", "10:00:00",
                     false};
    status.rooms = std::move(rooms);
    return status;
}

std::uint32_t AddressOf(const FakeKeldraWebApi& webApi)
{
    return webApi.GetParameters().endpoint.address().to_v4().to_uint();
}

}  // namespace

SimulatedStation Station1()
{
    auto therm001 = ThermostatRoom(3, "THERM001", 21.0, 5.0, 30.0);
    therm001.thermostat->roomTemperature = 20.5;
    return {"A1B2C3D4E5", 0xC0A8010A, {"THERM001", "THERM002"}, {3, 5},
            StatusWith({PowerLevelRoom(1, {3}, 4), ThermostatRoom(2, "THERM002", 19.5), therm001,
                        PowerLevelRoom(4, {5}, 7, 180)})};
}

SimulatedStation Station2()
{
    auto therm101 = ThermostatRoom(1, "THERM101", 20.0);
    therm101.thermostat->roomTemperature = 19.0;
    SimulatedStation station{"B1B2C3D4E5", 0xC0A8010B, {"THERM101"}, {1},
                             StatusWith({therm101, PowerLevelRoom(2, {1}, 2)})};
    station.status.system.serialNumber = std::string("SN-0002");
    return station;
}

std::vector<SimulatedStation> DefaultStations() { return {Station1(), Station2()}; }

QuietConsole::QuietConsole()
{
    auto& logger = Oru::GetGlobalDefaultLogger();
    for (const auto& appender : logger.getAllAppenders()) {
        if (appender->getName().rfind("LogCapture", 0) != 0) {
            _removed.push_back(appender);
            logger.removeAppender(appender);
        }
    }
}

QuietConsole::~QuietConsole()
{
    for (const auto& appender : _removed) {
        Oru::GetGlobalDefaultLogger().addAppender(appender);
    }
}

ApplicationFixture::ApplicationFixture(std::vector<SimulatedStation> simulated, std::int32_t absenceMode)
    : stations(std::move(simulated)),
      _configurationDirectory(boost::filesystem::temp_directory_path() /
                              boost::filesystem::unique_path("keldra-app-%%%%-%%%%-%%%%"))
{
    boost::filesystem::create_directory(_configurationDirectory);
    host.configurationDirectory = _configurationDirectory.string();
    boost::filesystem::ofstream credentials(_configurationDirectory / "orubasestationconfig.json");
    credentials << "{\"baseStations\": [";
    for (std::size_t index = 0; index < stations.size(); ++index) {
        const auto& station = stations[index];
        const int number = static_cast<int>(index) + 1;
        credentials << (index == 0 ? "" : ", ") << "{\"index\": " << index
                    << ", \"username\": \"installer\", \"credentials\": \"c2VjcmV0\"}";
        // Rooms, then the actor modules in 4-bit groups, lowest first.
        host.numbers[number] = static_cast<std::int32_t>(station.thermostats.size() + station.actorModules.size());
        std::uint32_t groups[2] = {0, 0};
        for (std::size_t slot = 0; slot < station.actorModules.size(); ++slot) {
            groups[slot / 8] |= station.actorModules[slot] << (4 * (slot % 8));
        }
        host.numbers[2 * number + 5] = static_cast<std::int32_t>(groups[0]);
        host.numbers[2 * number + 4] = static_cast<std::int32_t>(groups[1]);
        for (const auto& thermostat : station.thermostats) {
            host.texts[number + 1] += thermostat;
        }
        host.texts[1] += station.id;
        network->Announce(DeviceInfo{"plavo-" + station.id, "_https._tcp", "local", 2},
                          *MakeServiceInfo(station.id, station.address));
    }
    credentials << "]}\n";
    host.numbers[16] = absenceMode;
    webApis.OnCreate([this](FakeKeldraWebApi& webApi) {
        for (const auto& station : stations) {
            if (station.address == AddressOf(webApi)) {
                webApi.AnswerStatus(station.status);
            }
        }
    });

    // As the entry point assembles it; the exit function stands for
    // stopping and joining the worker thread.
    const TimerFactory timerFactory = [this]() { return clock.CreateTimer(); };
    BaseStationManagerFactory managerFactory =
        [this, timerFactory](boost::asio::io_service& ioService, IBaseStationManagerEventHandler& eventHandler,
                             std::unique_ptr<IErrorHandler> errorHandler,
                             std::unique_ptr<IKeldraConfigurationManager> configurationManager) {
            auto manager = std::make_unique<BaseStationManager>(
                ioService, timerFactory, FakeMDnsClient::Factory(network), webApis.Factory(), eventHandler,
                std::move(errorHandler), std::move(configurationManager));
            _manager = manager.get();
            return manager;
        };
    ErrorHandlerFactory errorHandlerFactory = [this, timerFactory](const BaseStationNumber& count)
        -> std::unique_ptr<IErrorHandler> { return std::make_unique<ErrorHandler>(timerFactory, *app, count); };
    ConfigurationManagerFactory configurationManagerFactory =
        [this](boost::filesystem::path path) -> std::unique_ptr<IKeldraConfigurationManager> {
        return std::make_unique<KeldraConfigurationManager>(std::make_unique<KeldraConfigurationReader>(path),
                                                            clock.CreateTimer());
    };
    app = std::make_unique<KeldraApp>([this]() { ++exitCalls; }, clock, managerFactory, errorHandlerFactory,
                                      configurationManagerFactory);
}

ApplicationFixture::~ApplicationFixture()
{
    app.reset();
    boost::system::error_code ignored;
    boost::filesystem::remove_all(_configurationDirectory, ignored);
}

void ApplicationFixture::Start()
{
    ASSERT_TRUE(Init());
    ASSERT_TRUE(app->Run());
    clock.RunPending();
    for (std::size_t index = 0; index < stations.size(); ++index) {
        const auto webApi = WebApiOf(index);
        ASSERT_NE(webApi, nullptr) << "station " << stations[index].id << " not found";
        ASSERT_EQ(webApi->Count(RequestKind::Status), 1u) << "station " << stations[index].id << " not polled";
    }
}

void ApplicationFixture::ClearRecords()
{
    host.Clear();
    log.Clear();
}

std::shared_ptr<FakeKeldraWebApi> ApplicationFixture::WebApiOf(std::size_t station) const
{
    std::shared_ptr<FakeKeldraWebApi> found;
    for (std::size_t index = 0; index < webApis.CreatedCount(); ++index) {
        if (AddressOf(*webApis.Created(index)) == stations.at(station).address) {
            found = webApis.Created(index);
        }
    }
    return found;
}

}  // namespace Testing
}  // namespace Keldra
