#include "app/OruKeldraApp.h"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "app/CommunicationObjectMap.h"
#include "basestations/BaseStationManager.h"
#include "discovery/IKeldraConfigurationManager.h"
#include "rooms/LeavingHomeManager.h"
#include "support/Assert.h"
#include "support/Format.h"
#include "support/HalfDegrees.h"

namespace Keldra {

namespace {

// Text forms of the station's date and time and of the arrival.
const std::string BaseStationDateTimeFormat = "%y-%m-%dT%H:%M:%S";
const std::string ArrivalDateTimeFormat = "%y-%m-%dT%H:%M";
const char* const ConfigurationFileName = "orubasestationconfig.json";

// ETS number parameters.
const int AbsenceModeParameter = 16;

std::string ByteText(unsigned char value)
{
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(value);
    return text.str();
}

const char* BoolText(bool value) { return value ? "true" : "false"; }

// The locale that reads date-time texts in one format.
struct DateTimeTextForm {
    explicit DateTimeTextForm(const std::string& format)
        : reading(std::locale::classic(), new boost::posix_time::time_input_facet(format))
    {
    }

    std::locale reading;
};

// Building a reader costs about 20 microseconds, more than the rest of the
// handling of a status: the two forms in use are built once. The facets are
// used through their const members only, so every thread may share them.
DateTimeTextForm TextFormOf(const std::string& format)
{
    static const DateTimeTextForm stationForm(BaseStationDateTimeFormat);
    static const DateTimeTextForm arrivalForm(ArrivalDateTimeFormat);
    if (format == BaseStationDateTimeFormat) {
        return stationForm;
    }
    if (format == ArrivalDateTimeFormat) {
        return arrivalForm;
    }
    return DateTimeTextForm(format);
}

bool IsDigitAt(const std::string& text, std::size_t position)
{
    return position < text.size() && text[position] >= '0' && text[position] <= '9';
}

// Deliberate: only two-digit fields as the station writes them count.
// Two digits, one separator, two digits (and, for a date, once more):
// "24-05-17", "18:30". The reader would take the first two digits of a
// four-digit year ("2024-05-20" as 2020-04-05) and fill in what is missing
// ("" as 1999-01-01 00:00).
bool HasTwoDigitFields(const std::string& text, std::size_t fields)
{
    for (std::size_t field = 0; field < fields; ++field) {
        const std::size_t start = field * 3;
        if (!IsDigitAt(text, start) || !IsDigitAt(text, start + 1) ||
            (field + 1 < fields && (start + 2 >= text.size() || IsDigitAt(text, start + 2)))) {
            return false;
        }
    }
    return true;
}

// What a value type is called in the warnings that reject the CO it came on.
struct ReceivedTypeTexts {
    const char* outOfRange;  // opens the warning about a CO number outside 1..517
    const char* type;
    const char* function;    // the function CO the type is meant for
};

const ReceivedTypeTexts BoolTexts{"Received unsupported bool on out-of-range  CO ", "bool", "PowerLevelCo"};
const ReceivedTypeTexts ByteTexts{"Received unsupported BYTE on out-of-range CO ", "BYTE", "PowerLevelCo"};
const ReceivedTypeTexts FloatTexts{"Received unsupported float on out-of-range CO ", "float", "RoomThermostatCo"};

// The base station CO a value came on when it has a FunctionCo function;
// otherwise the warning that rejects the value.
template <typename FunctionCo, typename Printed>
boost::variant<BaseStationCo, std::string> DecodeReceivedCo(int co, const Printed& value,
                                                            const ReceivedTypeTexts& texts)
{
    const auto number = CoNumber::Create(co);
    const auto decoded = number ? DecodeCo(*number) : boost::none;
    const auto* baseStationCo = decoded ? boost::get<BaseStationCo>(&*decoded) : nullptr;
    std::ostringstream rejection;
    if (!number) {
        rejection << texts.outOfRange << co;
    } else if (!decoded) {
        rejection << "Could not decode CO " << co << ". Received " << texts.type;
    } else if (baseStationCo == nullptr) {
        rejection << "Received unsupported " << texts.type << " on non-BaseStationCo " << co;
    } else if (boost::get<FunctionCo>(&baseStationCo->function) == nullptr) {
        rejection << "Received unsupported " << texts.type << " on non-" << texts.function << " " << *baseStationCo;
    } else {
        return *baseStationCo;
    }
    rejection << ": " << value;
    return rejection.str();
}

// Whether the installation has the station, thermostat or actor slot of a CO.
// The station's counts are fixed at construction and safe to read here.
bool IsConfigured(const BaseStationManager& manager, const BaseStationCo& co)
{
    const auto& stations = manager.GetBaseStations();
    const std::size_t station = co.baseStation.ToDifference().Value();
    if (station >= stations.size()) {
        return false;
    }
    if (const auto* thermostatCo = boost::get<RoomThermostatCo>(&co.function)) {
        return thermostatCo->GetIndex().ToDifference().Value() < stations[station]->GetRoomThermostatCount();
    }
    if (const auto* powerLevelCo = boost::get<PowerLevelCo>(&co.function)) {
        return powerLevelCo->GetIndex().ToDifference().Value() < stations[station]->GetActorModuleCount();
    }
    return true;
}

// Runs a manager command for a value from the bus. The CO numbering covers
// five stations with eight thermostats and twelve slots each; a value on a CO
// of a station, thermostat or slot that the installation does not have is
// dropped here with a line before the manager sees it: the manager would
// switch leaving-home mode off on every station before it refuses the index.
// Deliberate: a value on an unconfigured CO is dropped with a warning.
template <typename Command>
void ForConfiguredCo(const BaseStationManager& manager, const BaseStationCo& co, Command command)
{
    try {
        if (IsConfigured(manager, co)) {
            command();
            return;
        }
    } catch (const std::out_of_range&) {
    }
    ORU_LOG_WARN("Received value on CO " << co << " of a base station, thermostat or actor slot that is not configured");
}

}  // namespace

KeldraApp::KeldraApp(boost::function<void()> exitFunction, Oru::ClockSystem& clockSystem,
                     BaseStationManagerFactory baseStationManagerFactory, ErrorHandlerFactory errorHandlerFactory,
                     ConfigurationManagerFactory configurationManagerFactory)
    : _exitFunction(std::move(exitFunction)),
      _clockSystem(clockSystem),
      _baseStationManagerFactory(std::move(baseStationManagerFactory)),
      _errorHandlerFactory(std::move(errorHandlerFactory)),
      _configurationManagerFactory(std::move(configurationManagerFactory))
{
}

KeldraApp::~KeldraApp()
{
    // A host that deletes the application without Exit would leave the
    // worker thread running over the objects released below (and over the
    // library's code once it is unloaded): stop it first. After Exit this
    // does nothing.
    if (_exitFunction) {
        _exitFunction();
    }
    _leavingHomeManager.reset();
    _baseStationManager.reset();
}

// ---------------------------------------------------------------------------
// Lifecycle

bool KeldraApp::Init(OruApp::IOruAppHost* host)
{
    // Deliberate: Exit stopped the event loop for good, so Init cannot succeed.
    if (_exited) {
        ORU_LOG_FATAL("Init after Exit: the application has stopped.");
        return false;
    }
    if (_host != nullptr) {
        ORU_LOG_FATAL("App host already registered.");
        return false;
    }
    if (host == nullptr) {
        ORU_LOG_FATAL("No pointer to app host provided.");
        return false;
    }
    _host = host;

    const auto ids = ReadBaseStationIds();
    if (!ids) {
        return false;
    }
    const auto count = *BaseStationNumber::CreateFrom(ids->size());
    ORU_LOG_INFO("Number configured base stations: " << count);

    auto errorHandler = _errorHandlerFactory(count);
    const boost::filesystem::path configurationFile =
        boost::filesystem::path(_host->GetConfigurationDirectory()) / ConfigurationFileName;
    auto configurationManager = _configurationManagerFactory(configurationFile);
    _baseStationManager = _baseStationManagerFactory(_clockSystem.GetIoService(), *this, std::move(errorHandler),
                                                     std::move(configurationManager));

    for (const auto& baseStation : BaseStationNumber::All()) {
        if (baseStation > count) {
            break;
        }
        if (!InitializeBaseStation(baseStation, (*ids)[baseStation.ToDifference().Value()])) {
            return false;
        }
    }

    if (!InitializeAbsenceMode()) {
        return false;
    }
    ORU_LOG_INFO("Configuration done");
    ORU_LOG_INFO("Init done.");
    return true;
}

bool KeldraApp::InitializeBaseStation(const BaseStationNumber& baseStation, const BaseStationIdString& id)
{
    ORU_LOG_INFO("Configuring base station " << baseStation << " (ID " << id << ")");
    const auto rooms = GetBaseStationNumberOfRooms(baseStation);
    if (!rooms) {
        ORU_LOG_FATAL("Failed to read number of rooms, base station " << baseStation);
        return false;
    }
    ORU_LOG_INFO("# rooms: " << *rooms);

    auto actorModules = InitializeBaseStationActorModuleIDs(baseStation, *rooms);
    ORU_LOG_INFO("# actor modules: " << actorModules.size());
    for (const auto& actorModule : actorModules) {
        ORU_LOG_DEBUG("   ID: " << actorModule.GetActorModuleNumber());
    }

    if (actorModules.size() > rooms->Value()) {
        ORU_LOG_FATAL("!!! Inconsistent configuration: Base station "
                      << baseStation << ", expected  " << *rooms << ", got " << actorModules.size()
                      << " actor modules, expecting invalid number of rooms with room thermostats: "
                      << static_cast<std::uint32_t>(rooms->Value() - actorModules.size()));
        return false;
    }
    const std::size_t thermostatCount = rooms->Value() - actorModules.size();

    auto thermostats = InitializeBaseStationRoomThermostats(baseStation, thermostatCount);
    ORU_LOG_INFO("# room thermostats: " << thermostats.size());
    for (const auto& thermostat : thermostats) {
        if (thermostat) {
            ORU_LOG_DEBUG("   ID: " << thermostat->GetID());
        } else {
            ORU_LOG_WARN("   ID: !!! Not specified in ETS download");
        }
    }

    if (rooms->Value() != actorModules.size() + thermostats.size()) {
        ORU_LOG_FATAL("!!! Inconsistent configuration: Base station "
                      << baseStation << ", expected  " << *rooms << ", got " << thermostats.size()
                      << " room thermostats, " << actorModules.size() << " actor modules");
        return false;
    }

    _baseStationManager->AddBaseStation(
        BaseStationProperties(baseStation, id, std::move(actorModules), std::move(thermostats)));
    return true;
}

boost::optional<KeldraApp::BaseStationIds> KeldraApp::ReadBaseStationIds()
{
    std::string text;
    if (!_host->GetTextParameter(_baseStationIdsParameter, text)) {
        ORU_LOG_FATAL("Failed to retrieve base module IDs");
        return boost::none;
    }
    const std::size_t idLength = BaseStationIdString::MaxLength;
    if (text.empty() || text.size() % idLength != 0 || text.size() > idLength * BaseStationNumber::Max) {
        ORU_LOG_FATAL("Invalid length of base module IDs: '" << text << "'");
        return boost::none;
    }
    BaseStationIds ids;
    for (std::size_t position = 0; position < text.size(); position += idLength) {
        ids.push_back(*BaseStationIdString::Create(text.substr(position, idLength)));
    }
    return ids;
}

boost::optional<Room> KeldraApp::GetBaseStationNumberOfRooms(const BaseStationNumber& baseStation)
{
    std::int32_t value = 0;
    if (!_host->GetNumberParameter(static_cast<int>(baseStation.Value()), value)) {
        ORU_LOG_FATAL("Failed to retrieve number of rooms: Base station " << baseStation);
        return boost::none;
    }
    const auto rooms = Room::CreateFrom(value);
    if (!rooms) {
        ORU_LOG_FATAL("Invalid number of rooms: " << value << ", Base station " << baseStation);
    }
    return rooms;
}

int KeldraApp::ActorModuleNumberParameterID(const BaseStationNumber& baseStation, ActorModuleIDsBundle bundle)
{
    const int n = static_cast<int>(baseStation.Value());
    return bundle == ActorModuleIDsBundle::Modules1To8 ? 2 * n + 5 : 2 * n + 4;
}

ActorModuleRoomIndexMapping KeldraApp::InitializeBaseStationActorModuleIDs(const BaseStationNumber& baseStation,
                                                                           const Room& rooms)
{
    ActorModuleRoomIndexMapping actorModules;
    actorModules.reserve(ActorModuleNumber::Max);

    // Appends the actor modules of positions [first, last] held in 4-bit
    // groups of value, lowest group first; false when the list has ended.
    const auto readGroups = [&actorModules](std::uint32_t value, unsigned first, unsigned last) {
        for (unsigned position = first; position <= last; ++position) {
            const unsigned group = (value >> (4 * (position - first))) & 0xFu;
            if (group == 0) {
                return false;
            }
            const auto number = ActorModuleNumber::Create(group);
            if (!number) {
                ORU_LOG_FATAL("Invalid actor module ID:" << group);
                return false;
            }
            actorModules.emplace_back(*number);
        }
        return true;
    };

    for (const auto bundle : {ActorModuleIDsBundle::Modules1To8, ActorModuleIDsBundle::Modules9To12}) {
        const int parameter = ActorModuleNumberParameterID(baseStation, bundle);
        std::int32_t value = 0;
        if (!_host->GetNumberParameter(parameter, value)) {
            ORU_LOG_FATAL("Failed to retrieve actor module IDs: Base station " << baseStation
                                                                               << ", Number Parameter " << parameter);
            return actorModules;
        }
        const bool firstBundle = bundle == ActorModuleIDsBundle::Modules1To8;
        if (!readGroups(static_cast<std::uint32_t>(value), firstBundle ? 1 : 9, firstBundle ? 8 : rooms.Value())) {
            return actorModules;
        }
    }
    return actorModules;
}

RoomThermostatRoomIndexMapping KeldraApp::InitializeBaseStationRoomThermostats(const BaseStationNumber& baseStation,
                                                                               std::size_t count)
{
    RoomThermostatRoomIndexMapping thermostats;
    const auto padded = [&thermostats, count]() {
        if (thermostats.size() < count) {
            thermostats.resize(count);
        }
        return thermostats;
    };

    std::string text;
    if (!_host->GetTextParameter(static_cast<int>(baseStation.Value()) + 1, text)) {
        ORU_LOG_FATAL("Failed to retrieve room thermostat IDs: Base station " << baseStation);
        return padded();
    }
    const std::size_t idLength = RoomThermostatIDString::MaxLength;
    if (text.size() % idLength != 0) {
        ORU_LOG_FATAL("Invalid length of room thermostat IDs: Base station " << baseStation << ", got: " << text);
        return padded();
    }
    for (std::size_t position = 0; position < text.size(); position += idLength) {
        const std::string piece = text.substr(position, idLength);
        const auto utf8 = Oru::UTF8String::Create(piece);
        if (!utf8) {
            ORU_LOG_FATAL("Invalid room thermostat ID:" << piece);
            return padded();
        }
        thermostats.emplace_back(RoomThermostatRoomIndexMappingInfo(*RoomThermostatIDString::Create(*utf8)));
    }
    return padded();
}

bool KeldraApp::InitializeAbsenceMode()
{
    std::int32_t value = 0;
    if (!_host->GetNumberParameter(AbsenceModeParameter, value)) {
        ORU_LOG_FATAL("Failed to retrieve absence mode");
        return false;
    }
    _leavingHomeManager =
        std::make_unique<LeavingHomeManager>(_clockSystem, static_cast<LeavingHomeManager::AbsenceMode>(value));
    return true;
}

bool KeldraApp::Run()
{
    if (!_baseStationManager || !_leavingHomeManager || _host == nullptr) {
        ORU_LOG_ERROR("Run without a successful Init: nothing started.");
        return false;
    }
    _host->SendSwitch(static_cast<int>(SystemCoOffsetValue::BaseStationHasError), false);
    _host->SendText(static_cast<int>(SystemCoOffsetValue::BaseStationErrorText), "-0:NoError");
    _baseStationManager->Run();
    ORU_LOG_INFO("Running.");
    return true;
}

void KeldraApp::Exit(const OruApp::IOruAppHost* host)
{
    if (_baseStationManager) {
        _baseStationManager->Terminate();
    }
    if (_exitFunction) {
        _exitFunction();
    }
    _exited = true;
    if (host != nullptr && host == _host) {
        _host = nullptr;
    }
    ORU_LOG_INFO("Exited.");
}

// ---------------------------------------------------------------------------
// Values from the bus

bool KeldraApp::GetValue(int, std::string&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, bool&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, unsigned char&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, float&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, unsigned short&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, unsigned long&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, long&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, boost::posix_time::ptime&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}
bool KeldraApp::GetValue(int, OruApp::TimeOfDay&)
{
    ORU_NOT_IMPLEMENTED();
    return false;
}

void KeldraApp::OnValueReceived(int co, const std::string& value)
{
    ORU_LOG_WARN("Received unsupported std::string on CO " << co << ": " << value);
}

void KeldraApp::OnValueReceived(int co, bool value)
{
    // Deliberate: values before Init or after Exit are dropped with a warning.
    if (!_baseStationManager || !_leavingHomeManager) {
        ORU_LOG_WARN("Received bool on CO " << co << " before initialisation: " << BoolText(value));
        return;
    }
    if (co == static_cast<int>(SystemCoOffsetValue::LeavingHome)) {
        const bool leaving = _leavingHomeManager->GetLeavingHomeMode() != value;
        const auto arrival = leaving ? _leavingHomeManager->GetArrivalDateTime() : boost::none;
        _baseStationManager->SetLeavingHome(leaving, arrival);
        return;
    }
    if (co == static_cast<int>(SystemCoOffsetValue::HeatingCooling)) {
        _baseStationManager->SetCoolingMode(!value);
        return;
    }
    const auto received = DecodeReceivedCo<PowerLevelCo>(co, BoolText(value), BoolTexts);
    const auto* baseStationCo = boost::get<BaseStationCo>(&received);
    if (baseStationCo == nullptr) {
        ORU_LOG_WARN(boost::get<std::string>(received));
        return;
    }
    const auto& powerLevelCo = boost::get<PowerLevelCo>(baseStationCo->function);
    switch (powerLevelCo.GetOffset().Value()) {
    case PowerLevelCoOffsetValue::PowerLevelStep:
        ForConfiguredCo(*_baseStationManager, *baseStationCo, [&]() {
            _baseStationManager->SetPowerLevelUpDown(baseStationCo->baseStation.ToDifference().Value(),
                                                     powerLevelCo.GetIndex().ToDifference().Value(), value);
        });
        return;
    case PowerLevelCoOffsetValue::PowerLevelInput:
    case PowerLevelCoOffsetValue::PowerLevelPercentInput:
        ORU_LOG_WARN("Received bool instead of BYTE on PowerLevelCo " << *baseStationCo << ": " << BoolText(value));
        return;
    case PowerLevelCoOffsetValue::PowerLevelStatus:
    case PowerLevelCoOffsetValue::PowerLevelPercentStatus:
        ORU_LOG_WARN("Received bool on PowerLevelCo status CO " << *baseStationCo << ": " << BoolText(value));
        return;
    }
    ORU_UNREACHABLE();
}

void KeldraApp::OnValueReceived(int co, unsigned char value)
{
    if (!_baseStationManager) {
        ORU_LOG_WARN("Received BYTE on CO " << co << " before initialisation: " << ByteText(value));
        return;
    }
    const auto received = DecodeReceivedCo<PowerLevelCo>(co, ByteText(value), ByteTexts);
    const auto* baseStationCo = boost::get<BaseStationCo>(&received);
    if (baseStationCo == nullptr) {
        ORU_LOG_WARN(boost::get<std::string>(received));
        return;
    }
    const auto& powerLevelCo = boost::get<PowerLevelCo>(baseStationCo->function);
    const std::size_t station = baseStationCo->baseStation.ToDifference().Value();
    const std::size_t slot = powerLevelCo.GetIndex().ToDifference().Value();
    switch (powerLevelCo.GetOffset().Value()) {
    case PowerLevelCoOffsetValue::PowerLevelInput: {
        const auto level = PowerLevel::Create(value);
        if (!level) {
            ORU_LOG_WARN("PowerLevel - Value out of range (CO " << *baseStationCo << "): " << ByteText(value));
        }
        ForConfiguredCo(*_baseStationManager, *baseStationCo,
                        [&]() { _baseStationManager->SetPowerLevelValue(station, slot, level); });
        return;
    }
    case PowerLevelCoOffsetValue::PowerLevelPercentInput:
        ForConfiguredCo(*_baseStationManager, *baseStationCo, [&]() {
            _baseStationManager->SetPowerLevelPercent(station, slot, *KnxBytePercent::Create(value));
        });
        return;
    case PowerLevelCoOffsetValue::PowerLevelStatus:
    case PowerLevelCoOffsetValue::PowerLevelPercentStatus:
        ORU_LOG_WARN("Received BYTE on PowerLevelCo status CO " << *baseStationCo << ": " << ByteText(value));
        return;
    case PowerLevelCoOffsetValue::PowerLevelStep:
        ORU_LOG_WARN("Received BYTE instead of bool on PowerLevelCo " << *baseStationCo << ": " << ByteText(value));
        return;
    }
    ORU_UNREACHABLE();
}

void KeldraApp::OnValueReceived(int co, float value)
{
    const double printed = static_cast<double>(value);
    if (!_baseStationManager) {
        ORU_LOG_WARN("Received float on CO " << co << " before initialisation: " << printed);
        return;
    }
    const auto received = DecodeReceivedCo<RoomThermostatCo>(co, printed, FloatTexts);
    const auto* baseStationCo = boost::get<BaseStationCo>(&received);
    if (baseStationCo == nullptr) {
        ORU_LOG_WARN(boost::get<std::string>(received));
        return;
    }
    const auto& thermostatCo = boost::get<RoomThermostatCo>(baseStationCo->function);
    switch (thermostatCo.GetOffset().Value()) {
    case RoomThermostatCoOffsetValue::SetpointTemperatureInput: {
        const auto temperature = ToHalfDegrees(printed);
        if (!temperature) {
            ORU_LOG_INFO("SetpointTemperature - Value out of range (CO " << *baseStationCo << "): " << printed);
        }
        ForConfiguredCo(*_baseStationManager, *baseStationCo, [&]() {
            _baseStationManager->SetSetpointTemperature(baseStationCo->baseStation.ToDifference().Value(),
                                                        thermostatCo.GetIndex().ToDifference().Value(), temperature);
        });
        return;
    }
    case RoomThermostatCoOffsetValue::RoomTemperatureStatus:
    case RoomThermostatCoOffsetValue::SetpointTemperatureStatus:
        ORU_LOG_WARN("Received float on RoomThermostatCo status CO " << *baseStationCo << ": " << printed);
        return;
    }
    ORU_UNREACHABLE();
}

void KeldraApp::OnValueReceived(int co, unsigned short value)
{
    ORU_LOG_WARN("Received unsupported WORD on CO " << co << ": " << value);
}

void KeldraApp::OnValueReceived(int co, unsigned long value)
{
    ORU_LOG_WARN("Received unsupported DWORD on CO " << co << ": " << value);
}

void KeldraApp::OnValueReceived(int co, long value)
{
    ORU_LOG_WARN("Received unsupported LONG on CO " << co << ": " << value);
}

void KeldraApp::OnValueReceived(int co, const boost::posix_time::ptime& value)
{
    if (co != static_cast<int>(SystemCoOffsetValue::ArrivalDate) || !_leavingHomeManager) {
        ORU_LOG_WARN("Received unsupported boost::posix_time::ptime on CO " << co << ": " << value);
        return;
    }
    _leavingHomeManager->UpdateArrivalDate(value);
}

void KeldraApp::OnValueReceived(int co, const OruApp::TimeOfDay& value)
{
    if (co != static_cast<int>(SystemCoOffsetValue::ArrivalTime) || !_leavingHomeManager) {
        ORU_LOG_WARN("Received unsupported OruApp::TimeOfDay on CO " << co << ": " << value);
        return;
    }
    _leavingHomeManager->UpdateArrivalTime(value);
}

// ---------------------------------------------------------------------------
// Status to the bus

void KeldraApp::SendFloat(int co, double value)
{
    // Deliberate: a KNX float carries what a float can hold; anything else is not sent.
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        ORU_LOG_WARN("Invalid temperature received for CO " << co << ": " << value);
        return;
    }
    _host->SendFloat(co, static_cast<float>(value));
}

void KeldraApp::OnRoomTemperatureControlStatus(const BaseStationNumber& baseStation, const RoomThermostat& thermostat,
                                               const KeldraJson::ThermostatObject& status)
{
    if (status.roomTemperature) {
        SendFloat(EncodeCo(baseStation, thermostat,
                                         RoomThermostatCoOffset::Constant<RoomThermostatCoOffsetValue::RoomTemperatureStatus>())
                      .Value(),
                  *status.roomTemperature);
    }
    SendFloat(EncodeCo(baseStation, thermostat,
                                     RoomThermostatCoOffset::Constant<RoomThermostatCoOffsetValue::SetpointTemperatureStatus>())
                  .Value(),
              status.setpointTemperature);
}

void KeldraApp::OnRoomPowerLevelControlStatus(const BaseStationNumber& baseStation, const ActorModuleSlot& slot,
                                              const KeldraJson::PowerLevelControlObject& status)
{
    if (status.powerLevel > PowerLevel::Max) {
        ORU_LOG_WARN("Invalid power level received: " << Oru::LogEntryFormatter(status.powerLevel) << "(" << baseStation
                                                       << "/" << slot << ")");
        return;
    }
    _host->SendByte(
        EncodeCo(baseStation, slot, PowerLevelCoOffset::Constant<PowerLevelCoOffsetValue::PowerLevelStatus>())
            .Value(),
        status.powerLevel);
    const unsigned char percent =
        status.percentage ? *status.percentage : static_cast<unsigned char>(status.powerLevel * 255 / 10);
    _host->SendByte(EncodeCo(baseStation, slot,
                                       PowerLevelCoOffset::Constant<PowerLevelCoOffsetValue::PowerLevelPercentStatus>())
                        .Value(),
                    percent);
}

void KeldraApp::OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& status)
{
    _host->SendSwitch(static_cast<int>(SystemCoOffsetValue::LeavingHomeStatus),
                      _leavingHomeManager->GetLeavingHomeMode() != status.active);
    if (!status.date || !status.time) {
        return;
    }
    const auto arrival = ConvertDateToPtime(*status.date, *status.time, ArrivalDateTimeFormat);
    if (!arrival) {
        return;
    }
    const auto timeOfDay = OruApp::TimeOfDay::FromBoostPosixPtime(*arrival);
    if (!timeOfDay) {
        return;
    }
    _host->SendDateTime(static_cast<int>(SystemCoOffsetValue::ArrivalDateStatus), *arrival);
    _host->SendTimeOfDay(static_cast<int>(SystemCoOffsetValue::ArrivalTimeStatus), *timeOfDay);
}

void KeldraApp::OnSystemStatus(const BaseStationNumber& baseStation, const KeldraJson::SystemObject& status,
                               bool isSystemMaster)
{
    _host->SendSwitch(
        EncodeCo(baseStation, BaseStationGeneralCo::Constant<BaseStationGeneralCoOffsetValue::SystemCodeStatus>())
            .Value(),
        status.code && *status.code != "0-0");
    if (!isSystemMaster) {
        return;
    }
    const auto stationTime = ConvertDateToPtime(status.date, status.time, BaseStationDateTimeFormat);
    // Deliberate: a text that did not match gives not-a-date-time, no time to estimate from.
    if (stationTime && !stationTime->is_special()) {
        _leavingHomeManager->UpdateBaseStationDateTime(*stationTime);
    }
    _host->SendSwitch(static_cast<int>(SystemCoOffsetValue::HeatingCoolingStatus), !status.cooling);
}

void KeldraApp::OnErrorStatus(const BaseStationNumber& baseStation, const KeldraErrorState& state,
                              bool anyStationHasError)
{
    _host->SendSwitch(
        EncodeCo(baseStation, BaseStationGeneralCo::Constant<BaseStationGeneralCoOffsetValue::BaseStationError>())
            .Value(),
        state.hasError);
    _host->SendSwitch(static_cast<int>(SystemCoOffsetValue::BaseStationHasError), anyStationHasError);
    for (const auto& text : BaseStation::ErrorBitfieldToErrorStrings(state.newErrors)) {
        _host->SendText(static_cast<int>(SystemCoOffsetValue::BaseStationErrorText), text);
    }
}

void KeldraApp::OnCoolingModeStatus(const KeldraJson::SettingsObject& settings)
{
    _host->SendSwitch(static_cast<int>(SystemCoOffsetValue::HeatingCoolingStatus), !settings.coolingMode);
}

boost::optional<boost::posix_time::ptime> KeldraApp::ConvertDateToPtime(const std::string& date,
                                                                        const std::string& time,
                                                                        const std::string& format)
{
    try {
        if (date.size() != 8 || !HasTwoDigitFields(date, 3) || !HasTwoDigitFields(time, 2)) {
            return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
        }
        std::istringstream input(date + "T" + time);
        input.imbue(TextFormOf(format).reading);
        boost::posix_time::ptime value(boost::posix_time::not_a_date_time);
        input >> value;
        return value;
    } catch (const std::exception& error) {
        ORU_LOG_WARN("Failed to parse date (" << date << " " << time << "): " << error.what());
        return boost::none;
    }
}

// ---------------------------------------------------------------------------
// Gateway error indication

void KeldraApp::OnGatewayLastError(const KnxErrorString& text)
{
    const int co = static_cast<int>(SystemCoOffsetValue::GatewayLastError);
    if (_host == nullptr || !_host->SendText(co, text.Get())) {
        ORU_LOG_WARN("Failed to send last error (CO" << co << "): " << text);
    }
}

void KeldraApp::OnGatewayHasError(bool hasError)
{
    const int co = static_cast<int>(SystemCoOffsetValue::GatewayHasError);
    if (_host == nullptr || !_host->SendSwitch(co, hasError)) {
        // Kept on purpose: the has-error switch is logged as "last error" too.
        ORU_LOG_WARN("Failed to send last error (CO" << co << "): " << BoolText(hasError));
    }
}

void KeldraApp::OnGatewayFatalError()
{
    ORU_LOG_FATAL("Application exited by KeldraApp::OnGatewayFatalError to trigger watchdog reset.");
    std::exit(-1);
}

void KeldraApp::OnLedErrorCode(int code)
{
    if (_host != nullptr) {
        _host->SetLedErrorCode(code);
    }
}

}  // namespace Keldra
