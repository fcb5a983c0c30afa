// The application object the gateway drives: reads the installer's
// configuration, builds the base station management, turns values from the
// bus into commands and the stations' status into values on the bus.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/function.hpp>
#include <boost/optional.hpp>

#include "app/OruApp.h"
#include "basestations/IBaseStationManagerEventHandler.h"
#include "rooms/BaseStationProperties.h"
#include "rooms/IErrorHandler.h"
#include "rooms/IKnxErrorIndication.h"
#include "support/BoundedTypes.h"
#include "support/ClockSystem.h"
#include "support/Function.h"

namespace Keldra {

class BaseStationManager;
class IKeldraConfigurationManager;
class LeavingHomeManager;

using BaseStationManagerFactory = Oru::function<std::unique_ptr<BaseStationManager>(
    boost::asio::io_service&, IBaseStationManagerEventHandler&, std::unique_ptr<IErrorHandler>,
    std::unique_ptr<IKeldraConfigurationManager>)>;
using ErrorHandlerFactory = Oru::function<std::unique_ptr<IErrorHandler>(const BaseStationNumber&)>;
using ConfigurationManagerFactory =
    Oru::function<std::unique_ptr<IKeldraConfigurationManager>(boost::filesystem::path)>;

// The two bundles of actor module numbers of one base station.
enum class ActorModuleIDsBundle { Modules1To8, Modules9To12 };

class KeldraApp : public OruApp::IOruApp, public IKnxErrorIndication, private IBaseStationManagerEventHandler {
public:
    KeldraApp(boost::function<void()> exitFunction, Oru::ClockSystem& clockSystem,
              BaseStationManagerFactory baseStationManagerFactory, ErrorHandlerFactory errorHandlerFactory,
              ConfigurationManagerFactory configurationManagerFactory);
    ~KeldraApp() override;
    KeldraApp(const KeldraApp&) = delete;
    KeldraApp& operator=(const KeldraApp&) = delete;

    // OruApp::IOruApp
    bool Init(OruApp::IOruAppHost* host) override;
    void Exit(const OruApp::IOruAppHost* host) override;
    bool Run() override;

    bool GetValue(int co, std::string& value) override;
    bool GetValue(int co, bool& value) override;
    bool GetValue(int co, unsigned char& value) override;
    bool GetValue(int co, float& value) override;
    bool GetValue(int co, unsigned short& value) override;
    bool GetValue(int co, unsigned long& value) override;
    bool GetValue(int co, long& value) override;
    bool GetValue(int co, boost::posix_time::ptime& value) override;
    bool GetValue(int co, OruApp::TimeOfDay& value) override;

    void OnValueReceived(int co, const std::string& value) override;
    void OnValueReceived(int co, bool value) override;
    void OnValueReceived(int co, unsigned char value) override;
    void OnValueReceived(int co, float value) override;
    void OnValueReceived(int co, unsigned short value) override;
    void OnValueReceived(int co, unsigned long value) override;
    void OnValueReceived(int co, long value) override;
    void OnValueReceived(int co, const boost::posix_time::ptime& value) override;
    void OnValueReceived(int co, const OruApp::TimeOfDay& value) override;

    // IKnxErrorIndication
    void OnGatewayLastError(const KnxErrorString& text) override;
    void OnGatewayHasError(bool hasError) override;
    void OnGatewayFatalError() override;
    void OnLedErrorCode(int code) override;

    static int ActorModuleNumberParameterID(const BaseStationNumber& baseStation, ActorModuleIDsBundle bundle);

    // date + "T" + time read with a time input facet; a date that is not
    // "yy-mm-dd", a time that does not start "hh:mm" or a text that does not
    // match yields not-a-date-time, an exception no value.
    static boost::optional<boost::posix_time::ptime> ConvertDateToPtime(const std::string& date,
                                                                         const std::string& time,
                                                                         const std::string& format);

private:
    // IBaseStationManagerEventHandler
    void OnRoomTemperatureControlStatus(const BaseStationNumber& baseStation, const RoomThermostat& thermostat,
                                        const KeldraJson::ThermostatObject& status) override;
    void OnRoomPowerLevelControlStatus(const BaseStationNumber& baseStation, const ActorModuleSlot& slot,
                                       const KeldraJson::PowerLevelControlObject& status) override;
    void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& status) override;
    void OnSystemStatus(const BaseStationNumber& baseStation, const KeldraJson::SystemObject& status,
                        bool isSystemMaster) override;
    void OnErrorStatus(const BaseStationNumber& baseStation, const KeldraErrorState& state,
                       bool anyStationHasError) override;
    void OnCoolingModeStatus(const KeldraJson::SettingsObject& settings) override;

    using BaseStationIds = std::vector<BaseStationIdString>;

    boost::optional<BaseStationIds> ReadBaseStationIds();
    boost::optional<Room> GetBaseStationNumberOfRooms(const BaseStationNumber& baseStation);
    ActorModuleRoomIndexMapping InitializeBaseStationActorModuleIDs(const BaseStationNumber& baseStation,
                                                                    const Room& rooms);
    RoomThermostatRoomIndexMapping InitializeBaseStationRoomThermostats(const BaseStationNumber& baseStation,
                                                                        std::size_t count);
    bool InitializeBaseStation(const BaseStationNumber& baseStation, const BaseStationIdString& id);
    bool InitializeAbsenceMode();

    void SendFloat(int co, double value);

    const int _baseStationIdsParameter = 1;
    boost::function<void()> _exitFunction;
    Oru::ClockSystem& _clockSystem;
    OruApp::IOruAppHost* _host = nullptr;
    // Exit has stopped the event loop for good: a later Init would start
    // nothing.
    bool _exited = false;
    BaseStationManagerFactory _baseStationManagerFactory;
    ErrorHandlerFactory _errorHandlerFactory;
    ConfigurationManagerFactory _configurationManagerFactory;
    std::unique_ptr<BaseStationManager> _baseStationManager;
    std::unique_ptr<LeavingHomeManager> _leavingHomeManager;
};

}  // namespace Keldra
