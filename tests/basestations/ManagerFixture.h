// The base station manager and its stations on the virtual clock, with fakes
// for the network (mDNS, web API) and recorders for what the manager reports.
//   Station 1: actor module 3 in slot 1, thermostats THERM001 and THERM002.
//   Station 2: actor modules 1 to 11, thermostat THERM101.
//   Station 3: never announced.
#pragma once

#include <map>

#include <boost/optional/optional_io.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BaseStationTestSupport.h"
#include "tests/testing/FakeKeldraWebApi.h"
#include "tests/testing/FakeMDnsClient.h"
#include "tests/testing/LogCapture.h"
#include "tests/testing/RecordingBaseStationEventHandler.h"
#include "tests/testing/RecordingErrorHandler.h"
#include "tests/testing/VirtualClockSystem.h"
#include "basestations/BaseStationManager.h"
#include "basestations/BaseStationRequestError.h"
#include "basestations/KeldraWebApi.h"
#include "discovery/IKeldraConfigurationManager.h"

namespace Keldra {

inline std::ostream& operator<<(std::ostream& stream, const Credentials& credentials)
{
    return stream << "Credentials{" << credentials.username << ", " << credentials.password << "}";
}

namespace Testing {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Calls = std::vector<std::string>;
using log4cplus::DEBUG_LOG_LEVEL;
using log4cplus::ERROR_LOG_LEVEL;
using log4cplus::INFO_LOG_LEVEL;
using log4cplus::WARN_LOG_LEVEL;

const std::string Id1 = "A1B2C3D4E5";
const std::string Id2 = "B1B2C3D4E5";
constexpr std::uint32_t Address1 = 0xC0A8010A;  // 192.168.1.10
constexpr std::uint32_t Address2 = 0xC0A8010B;  // 192.168.1.11
const std::string Where1 = "(" + Id1 + "/192.168.1.10)";
const Oru::WaitableTimer::Duration PollPeriod = boost::chrono::seconds(5);
const Oru::WaitableTimer::Duration SearchPeriod = boost::chrono::seconds(10);
const Oru::WaitableTimer::Duration StepWindow = boost::chrono::milliseconds(300);
// The error-handler calls of a poll that found everything.
const Calls Complete1 = {"UnSetActorModuleMissing(1)", "UnSetRoomThermostatMissing(1)", "UnSetInvalidCredentials(1)",
                         "UnSetCommunicationError(1)", "HandleGeneralError(0)"};

inline boost::system::error_code SystemError(boost::system::errc::errc_t value)
{
    return boost::system::error_code(value, boost::system::system_category());
}
inline KeldraJson::BaseStationShortInfoMessage Firmware(boost::optional<std::string> version)
{
    return KeldraJson::BaseStationShortInfoMessage{std::move(version), boost::none, boost::none};
}
inline BaseStationProperties Station1() { return MakeProperties(1, Id1, {3}, {"THERM001", "THERM002"}); }
inline BaseStationProperties Station2()
{
    return MakeProperties(2, Id2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {"THERM101"});
}
inline BaseStationProperties Station3() { return MakeProperties(3, "C1C1C1C1C1", {}, {"THERM301"}); }

// Thermostat THERM001 reports the range 5 to 25 degrees.
inline KeldraJson::StatusObject Station1Status(std::uint8_t level = 4, bool leavingHome = false,
                                               std::vector<int> errors = {})
{
    return MakeStatus({ThermostatRoom(21, "THERM001", 21.0, 5.0, 25.0), ThermostatRoom(22, "THERM002", 19.5),
                       PowerLevelRoom(23, {3}, level)},
                      std::move(errors), leavingHome);
}
inline KeldraJson::StatusObject Station2Status(bool leavingHome = false)
{
    std::vector<KeldraJson::RoomObject> rooms{ThermostatRoom(1, "THERM101", 20.0)};
    for (int actor = 1; actor <= 11; ++actor) {
        rooms.push_back(PowerLevelRoom(static_cast<unsigned>(actor + 1), {actor}, 2));
    }
    return MakeStatus(rooms, {}, leavingHome);
}
inline DeviceInfo Device(const std::string& id) { return DeviceInfo{"plavo-" + id, "_https._tcp", "local", 2}; }
inline std::uint32_t AddressOf(const FakeKeldraWebApi& webApi)
{
    return webApi.GetParameters().endpoint.address().to_v4().to_uint();
}

// Credentials per station index, keys per station ID.
class FakeConfigurationManager final : public IKeldraConfigurationManager {
public:
    boost::optional<Credentials> GetCredentials(unsigned char index) override { return credentials[index]; }
    boost::optional<std::string> GetTrustedStationKey(const std::string& stationId) override
    {
        return trustedKeys.count(stationId) ? boost::optional<std::string>(trustedKeys[stationId]) : boost::none;
    }
    void RememberStationKey(const std::string& stationId, const std::string& fingerprint) override
    {
        trustedKeys.emplace(stationId, fingerprint);
    }
    void RecordPresentedStationKey(const std::string& stationId, const std::string& fingerprint) override
    {
        presentedKeys[stationId] = fingerprint;
    }
    std::map<unsigned char, boost::optional<Credentials>> credentials;
    std::map<std::string, std::string> trustedKeys, presentedKeys;
};

class ManagerTest : public ::testing::Test {
public:
    ManagerTest() { Recreate(); }

    void Recreate()
    {
        manager.reset();
        auto errorHandler = std::make_unique<RecordingErrorHandler>();
        errors = errorHandler.get();
        auto configManager = std::make_unique<FakeConfigurationManager>();
        config = configManager.get();
        manager = std::make_unique<BaseStationManager>(
            clock.GetIoService(), [this]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network),
            webApis.Factory(), events, std::move(errorHandler), std::move(configManager));
    }

    void Announce(const std::string& id, std::uint32_t address)
    {
        network->Withdraw("plavo-" + id);
        network->Announce(Device(id), *MakeServiceInfo(id, address));
    }

    // The web API object last created for the station at this address.
    std::shared_ptr<FakeKeldraWebApi> WebApiAt(std::uint32_t address) const
    {
        std::shared_ptr<FakeKeldraWebApi> found;
        for (std::size_t index = 0; index < webApis.CreatedCount(); ++index) {
            found = AddressOf(*webApis.Created(index)) == address ? webApis.Created(index) : found;
        }
        return found;
    }

    void Forget()
    {
        network->ClearCalls();
        errors->Clear();
        events.Clear();
        log.Clear();
    }

    // Station 1 (and station 2) configured, station 1 announced, and the
    // manager's first round run.
    void Run(FakeWebApiFactory::Configure answers, bool withStation2 = false)
    {
        webApis.OnCreate(std::move(answers));
        manager->AddBaseStation(Station1());
        if (withStation2) {
            manager->AddBaseStation(Station2());
        }
        Announce(Id1, Address1);
        manager->Run();
        clock.RunPending();
    }

    // Station 1 found, checked, master and polled once; the network no
    // longer announces it and what was recorded so far is forgotten.
    void StartWithStation1(const KeldraJson::StatusObject& status = Station1Status())
    {
        Run([status](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(status); });
        ASSERT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), 1u);
        network->WithdrawAll();
        Forget();
    }

    void PollWith(const Oru::SystemResult<KeldraJson::StatusObject>& answer)
    {
        WebApiAt(Address1)->AnswerStatus(answer);
        clock.Advance(PollPeriod);
    }

    std::size_t Browses() const { return network->Arguments("Browse").size(); }
    std::vector<std::string> Messages(log4cplus::LogLevel level = INFO_LOG_LEVEL) const { return log.Messages(level); }

    Oru::Testing::VirtualClockSystem clock;
    Oru::Testing::LogCapture log;
    FakeWebApiFactory webApis;
    std::shared_ptr<FakeMDnsClient::Network> network = std::make_shared<FakeMDnsClient::Network>();
    RecordingBaseStationEventHandler events;
    RecordingErrorHandler* errors = nullptr;
    FakeConfigurationManager* config = nullptr;
    std::unique_ptr<BaseStationManager> manager;
};

}  // namespace Testing
}  // namespace Keldra
