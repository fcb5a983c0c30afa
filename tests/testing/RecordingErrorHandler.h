// An IErrorHandler for tests: records every call, in order, as text such as
// "SetCommunicationError(2)" or "HandleGeneralError(12)". Safe to read from
// another thread while calls arrive.
#pragma once

#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "rooms/IErrorHandler.h"

namespace Keldra {
namespace Testing {

class RecordingErrorHandler final : public IErrorHandler {
public:
#define KELDRA_RECORD(Call) \
    void Call(const BaseStationNumber& station) override { Record(#Call, station); }
    KELDRA_RECORD(SetBaseStationMissing)
    KELDRA_RECORD(UnSetBaseStationMissing)
    KELDRA_RECORD(SetCommunicationError)
    KELDRA_RECORD(UnSetCommunicationError)
    KELDRA_RECORD(SetInvalidCredentials)
    KELDRA_RECORD(UnSetInvalidCredentials)
    KELDRA_RECORD(SetUnsupportedFirmware)
    KELDRA_RECORD(UnSetUnsupportedFirmware)
    KELDRA_RECORD(SetRoomThermostatMissing)
    KELDRA_RECORD(UnSetRoomThermostatMissing)
    KELDRA_RECORD(SetActorModuleMissing)
    KELDRA_RECORD(UnSetActorModuleMissing)
#undef KELDRA_RECORD
    void HandleGeneralError(ErrorCodesGeneral code) override { Record("HandleGeneralError", static_cast<int>(code)); }

    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _calls;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _calls.clear();
    }

private:
    template <typename Argument>
    void Record(const char* name, const Argument& argument)
    {
        std::ostringstream call;
        call << name << "(" << argument << ")";
        std::lock_guard<std::mutex> lock(_mutex);
        _calls.push_back(call.str());
    }

    mutable std::mutex _mutex;
    std::vector<std::string> _calls;
};

}  // namespace Testing
}  // namespace Keldra
