// The JSON of the base station wire protocol (docs/wire-protocol.md) for the
// web API's messages, both ways: the client encodes write requests and
// decodes answers, a station (the simulator) does the opposite. Decoding is
// strict: a body that is not one JSON object, a member of the wrong type, a
// missing required member or a number outside its field's range gives
// BaseStationRequestError::UnusableMessage. Unknown members are ignored.
#pragma once

#include <string>

#include <boost/optional.hpp>

#include "basestations/KeldraJson.h"
#include "basestations/WriteResponseStatus.h"
#include "support/SystemResult.h"

namespace Keldra {

class KeldraJsonCodec {
public:
    // Answers: GET /api/v1/info, GET /api/v1/status, and every write.
    static Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> DecodeShortInfo(const std::string& json);
    static Oru::SystemResult<KeldraJson::StatusObject> DecodeStatus(const std::string& json);
    static Oru::SystemResult<WriteResponseStatus> DecodeWriteResponse(const std::string& json);

    // Numbers that are not finite are written as null (which no decoder
    // accepts); the short information always names the vendor "Keldra".
    static std::string EncodeShortInfo(const KeldraJson::BaseStationShortInfoMessage& info);
    static std::string EncodeStatus(const KeldraJson::StatusObject& status);
    static std::string EncodeWriteResponse(WriteResponseStatus status);

    // Write requests. The setpoint is none when the temperature is not a
    // finite number. A power level request carries level, minimumLevel and
    // maximumLevel (the latter two only when set), never the percentage.
    static boost::optional<std::string> EncodeSetpointRequest(double temperature);
    static std::string EncodePowerLevelRequest(const KeldraJson::PowerLevelControlObject& powerLevel);
    static std::string EncodeLeavingHomeRequest(const KeldraJson::LeavingHomeObject& leavingHome);
    static std::string EncodeSettingsRequest(const KeldraJson::SettingsObject& settings);

    static Oru::SystemResult<double> DecodeSetpointRequest(const std::string& json);
    static Oru::SystemResult<KeldraJson::PowerLevelControlObject> DecodePowerLevelRequest(const std::string& json);
    static Oru::SystemResult<KeldraJson::LeavingHomeObject> DecodeLeavingHomeRequest(const std::string& json);
    static Oru::SystemResult<KeldraJson::SettingsObject> DecodeSettingsRequest(const std::string& json);
};

}  // namespace Keldra
