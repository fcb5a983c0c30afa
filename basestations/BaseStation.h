// One configured base station: its connection (device information from
// discovery, web API object, credentials, firmware check), its status polling
// with the room mapping the status keeps up to date, its device error bits,
// and the writes to it. Used on the event loop's thread; only the constant
// accessors and the system-master flag may be read elsewhere.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/optional.hpp>

#include "basestations/BaseStationWebParameters.h"
#include "basestations/CancellationToken.h"
#include "basestations/IBaseStationStatusHandler.h"
#include "basestations/IBaseStationWebApiHandler.h"
#include "basestations/IKeldraWebApi.h"
#include "basestations/KeldraErrorState.h"
#include "basestations/KeldraJson.h"
#include "basestations/OptimisticWriteValueManager.h"
#include "discovery/BaseStationPollingHandler.h"
#include "discovery/IKeldraConfigurationManager.h"
#include "discovery/ServiceInfo.h"
#include "rooms/BaseStationProperties.h"
#include "rooms/PowerLevelStepCombiner.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/SelfHandle.h"
#include "support/SystemResult.h"
#include "support/TimerFactory.h"

namespace Keldra {

using WebApiFactory = Oru::function<Oru::SystemResult<std::shared_ptr<IKeldraWebApi>>(
    boost::asio::io_service&, BaseStationWebParameters&&)>;
// true: the firmware may be used; false: it is too old; an error: the check
// itself failed.
using FirmwareCheckResultHandler = Oru::function<void(Oru::SystemResult<bool>)>;

class BaseStation : public IBaseStationWebApiHandler {
public:
    using OptimisticWriteValueManager = Keldra::OptimisticWriteValueManager;
    // What a queued handler holds instead of the station: a late answer
    // finds the station gone.
    using WeakHandle = Oru::SelfHandle<BaseStation>::Weak;

    enum class ServiceInfoUpdate : int {
        First = 0,      // the station had no device information
        Changed = 1,
        Unchanged = 2,  // the held information is kept
        Null = 3,
    };

    BaseStation(boost::asio::io_service& ioService, BaseStationProperties properties, TimerFactory timerFactory,
                IBaseStationStatusHandler& statusHandler, IKeldraConfigurationManager& configManager,
                OnErrorCallbackHandler callback);
    BaseStation(const BaseStation&) = delete;
    BaseStation& operator=(const BaseStation&) = delete;
    ~BaseStation() override;

    WeakHandle GetWeakHandle() const { return _selfHandle.GetWeak(); }

    // Connection.
    ServiceInfoUpdate UpdateServiceInfo(std::shared_ptr<ServiceInfo> serviceInfo);
    void UpdateWebApi(const WebApiFactory& factory);
    void UpdateCredentials(IKeldraWebApi& webApi) const;
    // The key stored for the station, if any, is the one the web API trusts.
    void UpdateTrustedStationKey(IKeldraWebApi& webApi) const;
    void CheckFirmwareVersion(FirmwareCheckResultHandler handler);
    // Drops the device information and the web API object; false when
    // there was neither.
    bool ResetDeviceInfo();
    void SetSystemMaster();
    void UnSetSystemMaster();
    bool IsSystemMaster() const { return _isSystemMaster.load(); }
    void StartStatusPolling();
    void StopStatusPolling();

    // Status polling and configuration update.
    void RegisterPollingRequests(OnErrorCallbackHandler callback);
    void GetStatus(CancellationToken& token, OnErrorCallbackHandler callback);
    BaseStationState UpdateConfiguration(const KeldraJson::StatusObject& status);

    // Device error bits.
    static boost::optional<std::uint16_t> ErrorToBitfield(int code);
    static std::uint16_t ConvertToBitfield(const std::vector<KeldraJson::ErrorObject>& errors);
    KeldraErrorState UpdateBaseStationErrorState(const std::vector<KeldraJson::ErrorObject>& errors);
    bool HasError() const { return _errorBitfield != 0; }
    bool CheckIsNewError(std::uint16_t bits) const { return (_errorBitfield & bits) != 0; }
    // The texts of the set bits 0 to 8, in bit order.
    static std::vector<std::string> ErrorBitfieldToErrorStrings(std::uint16_t bits);

    // Writes (IBaseStationWebApiHandler). An index beyond the configured
    // thermostats or actor modules throws std::out_of_range.
    void SetPowerLevelValue(std::size_t actorModule, const PowerLevel& level,
                            OnErrorCallbackHandler callback) override;
    void SetPowerLevelPercent(std::size_t actorModule, const KnxBytePercent& percent,
                              OnErrorCallbackHandler callback) override;
    void SetPowerLevelUpDown(std::size_t actorModule, bool up, bool fromCurrent,
                             OnErrorCallbackHandler callback) override;
    void SetSetpointTemperature(std::size_t thermostat, const HalfDegreeTemperature& temperature,
                                OnErrorCallbackHandler callback) override;
    void SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                        OnErrorCallbackHandler callback) override;
    void SetCoolingMode(bool cooling, OnErrorCallbackHandler callback) override;

    // Fixed at construction; safe from any thread.
    BaseStationNumber GetBaseStationNumber() const { return _number; }
    const BaseStationIdString& GetBaseStationID() const { return _id; }
    std::size_t GetRoomThermostatCount() const { return _roomThermostatCount; }
    std::size_t GetActorModuleCount() const { return _actorModuleCount; }

    // The room mapping; event loop's thread only.
    Room GetNumberRooms() const { return _properties.GetNumberRooms(); }
    const ActorModuleRoomIndexMapping& GetActorModuleMapping() const { return _properties.GetActorModuleMapping(); }
    const RoomThermostatRoomIndexMapping& GetRoomThermostatMapping() const
    {
        return _properties.GetRoomThermostatMapping();
    }
    const BaseStationProperties& GetProperties() const { return _properties; }

    // Polls in a row that got no answer (timed out, or abandoned for the
    // next poll) after which the station counts as unreachable.
    static constexpr unsigned UnansweredPollsOfAnUnreachableStation = 3;

private:
    // What a write changes at the station: at most one write per target is
    // on its way; a newer one withdraws the older.
    enum class WriteTarget { SetpointOfRoom, PowerLevelOfRoom, LeavingHome, CoolingMode };
    using WriteKey = std::pair<WriteTarget, unsigned>;  // with the room, or 0
    // A write waiting for the room index of its thermostat or actor module
    // (keyed by their index), sent again after the next status.
    struct ParkedWrite {
        Oru::function<void(BaseStation&)> write;
        OnErrorCallbackHandler callback;
    };

    // What an accepted write publishes.
    using PublishAccepted = Oru::function<void(BaseStation&)>;
    // Run on every answer to a write, before it is looked at.
    using AnswerHook = Oru::function<void(BaseStation&)>;

    void ResetMappings();
    std::string StationId() const { return std::string(_id.Get()); }
    // After an answer: a key presented on first contact is stored; another
    // key than the trusted one is logged and kept for the user to accept.
    void NoteStationKey(const IKeldraWebApi& webApi, const boost::system::error_code& error) const;
    // Without a web API object the write ends at once in Missing.
    bool ReportMissingWebApi(const OnErrorCallbackHandler& callback);
    void OnFirmwareResponse(const Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage>& result,
                            const FirmwareCheckResultHandler& handler, const std::shared_ptr<ServiceInfo>& serviceInfo);
    void OnStatusResponse(const Oru::SystemResult<KeldraJson::StatusObject>& result,
                          const OnErrorCallbackHandler& callback, const std::shared_ptr<ServiceInfo>& serviceInfo,
                          const std::shared_ptr<IKeldraWebApi>& webApi);
    void OnStatus(const KeldraJson::StatusObject& status, const OnErrorCallbackHandler& callback);
    void WritePowerLevel(std::size_t actorModule, PowerLevel level, boost::optional<std::uint8_t> percentage,
                         const OnErrorCallbackHandler& callback);
    // The step of a write that calls the web API object, with the answer's
    // handler and the token that withdraws the write.
    using WebApiWrite = Oru::function<void(IKeldraWebApi&, IKeldraWebApi::WriteHandler, CancellationToken*)>;
    // The end every write shares: the credentials are brought up to date, a
    // write still on its way to key is withdrawn and send is made; publish
    // runs when the station accepts.
    void SendWrite(const WriteKey& key, const WebApiWrite& send, const OnErrorCallbackHandler& callback,
                   PublishAccepted publish, AnswerHook onAnswer = AnswerHook());
    // Withdraws every write on its way: the web API object it was made on
    // is replaced or gone.
    void CancelWrites();
    void OnWriteCancelled(const std::shared_ptr<IKeldraWebApi>& webApi, const OnErrorCallbackHandler& callback);
    // False while the parked writes are sent again: then the write ends.
    bool ParkUntilNextStatus(const WriteKey& key, ParkedWrite parked);
    void OnWriteResponse(const Oru::SystemResult<WriteResponseStatus>& result, const OnErrorCallbackHandler& callback,
                         const PublishAccepted& publish);
    PowerLevelStepCombiner& StepCombinerOf(std::size_t actorModule, const OnErrorCallbackHandler& callback);

    boost::asio::io_service& _ioService;
    std::shared_ptr<ServiceInfo> _serviceInfo;
    std::shared_ptr<IKeldraWebApi> _webApi;
    BaseStationProperties _properties;
    BaseStationPollingHandler _pollingHandler;
    IBaseStationStatusHandler& _statusHandler;
    IKeldraConfigurationManager& _configManager;
    std::uint16_t _errorBitfield = 0;
    std::atomic<bool> _isSystemMaster{false};
    std::map<unsigned, PowerLevelStepCombiner> _stepCombiners;
    TimerFactory _timerFactory;
    OptimisticWriteValueManager _optimisticWriteValues;
    std::map<WriteKey, CancellationToken> _writeTokens;
    std::map<WriteKey, ParkedWrite> _parkedWrites;
    bool _sendingParkedWrites = false;
    unsigned _unansweredPolls = 0;

    const BaseStationNumber _number;
    const BaseStationIdString _id;
    const std::size_t _roomThermostatCount;
    const std::size_t _actorModuleCount;
    Oru::SelfHandle<BaseStation> _selfHandle;
};

}  // namespace Keldra
