#include "ApplicationFixture.h"

#include <algorithm>
#include <utility>

#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>
#include <gtest/gtest.h>

#include "OruLogging.h"
#include "discovery/KeldraConfigurationManager.h"
#include "discovery/KeldraConfigurationReader.h"
#include "rooms/ErrorCodeHandler.h"
#include "tests/basestations/BaseStationTestSupport.h"

namespace Keldra {
namespace Testing {
namespace {

const Oru::WaitableTimer::Duration PollPeriod = boost::chrono::seconds(5);

// The real error handler, with every call also recorded.
class RecordedErrorHandler final : public IErrorHandler {
public:
    RecordedErrorHandler(std::unique_ptr<IErrorHandler> handler, RecordingErrorHandler& recorder)
        : _handler(std::move(handler)), _recorder(recorder)
    {
    }

    void SetBaseStationMissing(const BaseStationNumber& station) override
    {
        _recorder.SetBaseStationMissing(station);
        _handler->SetBaseStationMissing(station);
    }
    void UnSetBaseStationMissing(const BaseStationNumber& station) override
    {
        _recorder.UnSetBaseStationMissing(station);
        _handler->UnSetBaseStationMissing(station);
    }
    void SetCommunicationError(const BaseStationNumber& station) override
    {
        _recorder.SetCommunicationError(station);
        _handler->SetCommunicationError(station);
    }
    void UnSetCommunicationError(const BaseStationNumber& station) override
    {
        _recorder.UnSetCommunicationError(station);
        _handler->UnSetCommunicationError(station);
    }
    void SetInvalidCredentials(const BaseStationNumber& station) override
    {
        _recorder.SetInvalidCredentials(station);
        _handler->SetInvalidCredentials(station);
    }
    void UnSetInvalidCredentials(const BaseStationNumber& station) override
    {
        _recorder.UnSetInvalidCredentials(station);
        _handler->UnSetInvalidCredentials(station);
    }
    void SetUnsupportedFirmware(const BaseStationNumber& station) override
    {
        _recorder.SetUnsupportedFirmware(station);
        _handler->SetUnsupportedFirmware(station);
    }
    void UnSetUnsupportedFirmware(const BaseStationNumber& station) override
    {
        _recorder.UnSetUnsupportedFirmware(station);
        _handler->UnSetUnsupportedFirmware(station);
    }
    void SetRoomThermostatMissing(const BaseStationNumber& station) override
    {
        _recorder.SetRoomThermostatMissing(station);
        _handler->SetRoomThermostatMissing(station);
    }
    void UnSetRoomThermostatMissing(const BaseStationNumber& station) override
    {
        _recorder.UnSetRoomThermostatMissing(station);
        _handler->UnSetRoomThermostatMissing(station);
    }
    void SetActorModuleMissing(const BaseStationNumber& station) override
    {
        _recorder.SetActorModuleMissing(station);
        _handler->SetActorModuleMissing(station);
    }
    void UnSetActorModuleMissing(const BaseStationNumber& station) override
    {
        _recorder.UnSetActorModuleMissing(station);
        _handler->UnSetActorModuleMissing(station);
    }
    void HandleGeneralError(ErrorCodesGeneral code) override
    {
        _recorder.HandleGeneralError(code);
        _handler->HandleGeneralError(code);
    }

private:
    std::unique_ptr<IErrorHandler> _handler;
    RecordingErrorHandler& _recorder;
};

KeldraJson::StatusObject StatusWith(std::vector<KeldraJson::RoomObject> rooms)
{
    KeldraJson::StatusObject status;
    status.system.serialNumber = std::string("SN-0001");
    status.system.stationName = std::string("Ground floor");
    status.system.code = std::string("0-0");
    status.system.date = "24-05-20";
    status.system.time = "10:00:00";
    status.system.cooling = false;
    status.rooms = std::move(rooms);
    return status;
}

// "installer" / "secret" for every station.
std::string CredentialsFile(std::size_t stationCount)
{
    std::string entries;
    for (std::size_t index = 0; index < stationCount; ++index) {
        entries += std::string(index == 0 ? "" : ",\n") + "    {\"index\": " + std::to_string(index) +
                   ", \"username\": \"installer\", \"credentials\": \"c2VjcmV0\"}";
    }
    return "{\n  \"baseStations\": [\n" + entries + "\n  ]\n}\n";
}

}  // namespace

SimulatedStation Station1()
{
    SimulatedStation station;
    station.id = "A1B2C3D4E5";
    station.address = 0xC0A8010A;
    station.thermostats = {"THERM001", "THERM002"};
    station.actorModules = {3, 5};
    auto therm001 = ThermostatRoom(3, "THERM001", 21.0, 5.0, 30.0);
    therm001.thermostat->roomTemperature = 20.5;
    station.status = StatusWith({PowerLevelRoom(1, {3}, 4), ThermostatRoom(2, "THERM002", 19.5), therm001,
                                 PowerLevelRoom(4, {5}, 7, 180)});
    return station;
}

SimulatedStation Station2()
{
    SimulatedStation station;
    station.id = "B1B2C3D4E5";
    station.address = 0xC0A8010B;
    station.thermostats = {"THERM101"};
    station.actorModules = {1};
    auto therm101 = ThermostatRoom(1, "THERM101", 20.0);
    therm101.thermostat->roomTemperature = 19.0;
    station.status = StatusWith({therm101, PowerLevelRoom(2, {1}, 2)});
    station.status.system.serialNumber = std::string("SN-0002");
    return station;
}

std::vector<SimulatedStation> DefaultStations() { return {Station1(), Station2()}; }

EtsParameters ParametersFor(const std::vector<SimulatedStation>& stations, std::int32_t absenceMode)
{
    EtsParameters parameters;
    std::string ids;
    for (std::size_t index = 0; index < stations.size(); ++index) {
        const auto& station = stations[index];
        const int number = static_cast<int>(index) + 1;
        ids += station.id;
        parameters.numbers[number] = static_cast<std::int32_t>(station.thermostats.size() + station.actorModules.size());
        std::uint32_t first = 0;
        std::uint32_t second = 0;
        for (std::size_t slot = 0; slot < station.actorModules.size(); ++slot) {
            auto& bundle = slot < 8 ? first : second;
            bundle |= station.actorModules[slot] << (4 * (slot % 8));
        }
        parameters.numbers[2 * number + 5] = static_cast<std::int32_t>(first);
        parameters.numbers[2 * number + 4] = static_cast<std::int32_t>(second);
        std::string thermostats;
        for (const auto& thermostat : station.thermostats) {
            thermostats += thermostat;
        }
        parameters.texts[number + 1] = thermostats;
    }
    parameters.texts[1] = ids;
    parameters.numbers[16] = absenceMode;
    return parameters;
}

int PowerLevelCoNumber(int station, int slot, int function) { return (station - 1) * 100 + (slot - 1) * 5 + function; }

std::vector<Oru::Testing::SentValue> SentOn(const Oru::Testing::RecordingHost& host, int co)
{
    std::vector<Oru::Testing::SentValue> sent;
    for (const auto& value : host.Sent()) {
        if (value.co == co) {
            sent.push_back(value);
        }
    }
    return sent;
}

std::vector<Oru::Testing::SentValue> OnCo(int co, const std::vector<Oru::Testing::SentValue::Value>& values)
{
    std::vector<Oru::Testing::SentValue> sent;
    for (const auto& value : values) {
        sent.push_back({co, value});
    }
    return sent;
}

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
    auto& logger = Oru::GetGlobalDefaultLogger();
    for (const auto& appender : _removed) {
        logger.addAppender(appender);
    }
}

ApplicationFixture::ApplicationFixture(std::vector<SimulatedStation> simulated, std::int32_t absenceMode)
    : stations(std::move(simulated)),
      _configurationDirectory(boost::filesystem::temp_directory_path() /
                              boost::filesystem::unique_path("keldra-app-%%%%-%%%%-%%%%"))
{
    boost::filesystem::create_directory(_configurationDirectory);
    {
        boost::filesystem::ofstream file(_configurationDirectory / "orubasestationconfig.json");
        file << CredentialsFile(stations.size());
    }
    host.SetConfigurationDirectory(_configurationDirectory.string());
    SetParameters(ParametersFor(stations, absenceMode));

    for (const auto& station : stations) {
        network->Announce(DeviceInfo{"plavo-" + station.id, "_https._tcp", "local", 2},
                          *MakeServiceInfo(station.id, station.address));
    }
    webApis.OnCreate([this](FakeKeldraWebApi& webApi) {
        const auto address = webApi.GetParameters().endpoint.address().to_v4().to_uint();
        for (const auto& station : stations) {
            if (station.address == address) {
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
        -> std::unique_ptr<IErrorHandler> {
        return std::make_unique<RecordedErrorHandler>(std::make_unique<ErrorHandler>(timerFactory, *app, count),
                                                      errorCalls);
    };
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

void ApplicationFixture::SetParameters(const EtsParameters& parameters)
{
    for (const int id : _numberParameterIds) {
        host.RemoveNumberParameter(id);
    }
    for (const int id : _textParameterIds) {
        host.RemoveTextParameter(id);
    }
    _numberParameterIds.clear();
    _textParameterIds.clear();
    for (const auto& number : parameters.numbers) {
        host.SetNumberParameter(number.first, number.second);
        _numberParameterIds.push_back(number.first);
    }
    for (const auto& text : parameters.texts) {
        host.SetTextParameter(text.first, text.second);
        _textParameterIds.push_back(text.first);
    }
}

bool ApplicationFixture::Init() { return app->Init(&host); }

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

void ApplicationFixture::Poll() { clock.Advance(PollPeriod); }

void ApplicationFixture::ClearRecords()
{
    host.Clear();
    log.Clear();
    errorCalls.Clear();
}

std::shared_ptr<FakeKeldraWebApi> ApplicationFixture::WebApiOf(std::size_t station) const
{
    std::shared_ptr<FakeKeldraWebApi> found;
    for (std::size_t index = 0; index < webApis.CreatedCount(); ++index) {
        const auto webApi = webApis.Created(index);
        if (webApi->GetParameters().endpoint.address().to_v4().to_uint() == stations.at(station).address) {
            found = webApi;
        }
    }
    return found;
}

std::vector<WebApiRequest> ApplicationFixture::Requests(RequestKind kind) const
{
    std::vector<WebApiRequest> requests;
    for (std::size_t index = 0; index < webApis.CreatedCount(); ++index) {
        const auto some = webApis.Created(index)->Requests(kind);
        requests.insert(requests.end(), some.begin(), some.end());
    }
    return requests;
}

}  // namespace Testing
}  // namespace Keldra
