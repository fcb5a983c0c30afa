// An IErrorHandler for tests: records every call, in order, as text such as
// "SetCommunicationError(2)" or "HandleGeneralError(12)". Safe to read from
// another thread while calls arrive.
#pragma once

#include <cstddef>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "rooms/IErrorHandler.h"

namespace Keldra {
namespace Testing {

class RecordingErrorHandler final : public IErrorHandler {
public:
    void SetBaseStationMissing(const BaseStationNumber& station) override { Record("SetBaseStationMissing", station); }
    void UnSetBaseStationMissing(const BaseStationNumber& station) override
    {
        Record("UnSetBaseStationMissing", station);
    }
    void SetCommunicationError(const BaseStationNumber& station) override { Record("SetCommunicationError", station); }
    void UnSetCommunicationError(const BaseStationNumber& station) override
    {
        Record("UnSetCommunicationError", station);
    }
    void SetInvalidCredentials(const BaseStationNumber& station) override { Record("SetInvalidCredentials", station); }
    void UnSetInvalidCredentials(const BaseStationNumber& station) override
    {
        Record("UnSetInvalidCredentials", station);
    }
    void SetUnsupportedFirmware(const BaseStationNumber& station) override
    {
        Record("SetUnsupportedFirmware", station);
    }
    void UnSetUnsupportedFirmware(const BaseStationNumber& station) override
    {
        Record("UnSetUnsupportedFirmware", station);
    }
    void SetRoomThermostatMissing(const BaseStationNumber& station) override
    {
        Record("SetRoomThermostatMissing", station);
    }
    void UnSetRoomThermostatMissing(const BaseStationNumber& station) override
    {
        Record("UnSetRoomThermostatMissing", station);
    }
    void SetActorModuleMissing(const BaseStationNumber& station) override { Record("SetActorModuleMissing", station); }
    void UnSetActorModuleMissing(const BaseStationNumber& station) override
    {
        Record("UnSetActorModuleMissing", station);
    }
    void HandleGeneralError(ErrorCodesGeneral code) override
    {
        std::ostringstream call;
        call << "HandleGeneralError(" << static_cast<int>(code) << ")";
        Append(call.str());
    }

    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _calls;
    }
    std::size_t Count(const std::string& call) const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        std::size_t count = 0;
        for (const auto& recorded : _calls) {
            count += recorded == call ? 1 : 0;
        }
        return count;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _calls.clear();
    }

private:
    void Record(const char* name, const BaseStationNumber& station)
    {
        std::ostringstream call;
        call << name << "(" << station << ")";
        Append(call.str());
    }
    void Append(std::string call)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _calls.push_back(std::move(call));
    }

    mutable std::mutex _mutex;
    std::vector<std::string> _calls;
};

}  // namespace Testing
}  // namespace Keldra
