// The error codes the gateway indicates: the errors of one base station, the
// errors of the gateway as a whole, the code that holds either, and the short
// KNX text of each.
#pragma once

#include <boost/variant.hpp>

#include "support/Assert.h"
#include "support/BoundedTypes.h"

namespace Keldra {

// The numbers are fixed. Each code from 1 on has its own bit in a station's
// error word; a smaller number is the more significant error.
enum class ErrorCodesBaseStationSpecific : int {
    NoError = 0,
    BaseStationMissing = 1,
    CommunicationError = 2,
    InvalidCredentials = 3,
    UnsupportedFirmware = 4,
    RoomThermostatMissing = 5,
    ActorModuleMissing = 6,
};

// The numbers are fixed and not contiguous.
enum class ErrorCodesGeneral : int {
    NoError = 0,
    InvalidResponse = 10,
    UnsupportedValue = 11,
    OutOfRangeValue = 12,
    UnexpectedError = 100,
    FatalError = 1000,
};

// Two codes are equal only when they hold the same alternative and value:
// the station's NoError is not the general NoError.
using ErrorCode = boost::variant<ErrorCodesBaseStationSpecific, ErrorCodesGeneral>;

// The KNX error text of a code: exactly the name shown on the bus, at most
// 14 bytes.
class ErrorCodeToStringVisitor : public boost::static_visitor<KnxErrorString> {
public:
    KnxErrorString operator()(ErrorCodesBaseStationSpecific code) const
    {
        switch (code) {
        case ErrorCodesBaseStationSpecific::NoError: return Text("NoError");
        case ErrorCodesBaseStationSpecific::BaseStationMissing: return Text("MissingBaseSta");
        case ErrorCodesBaseStationSpecific::CommunicationError: return Text("CommError");
        case ErrorCodesBaseStationSpecific::InvalidCredentials: return Text("InvalidCreds");
        case ErrorCodesBaseStationSpecific::UnsupportedFirmware: return Text("UnsupportedFW");
        case ErrorCodesBaseStationSpecific::RoomThermostatMissing: return Text("MissingThermos");
        case ErrorCodesBaseStationSpecific::ActorModuleMissing: return Text("MissingActor");
        }
        ORU_UNREACHABLE();
    }

    KnxErrorString operator()(ErrorCodesGeneral code) const
    {
        switch (code) {
        case ErrorCodesGeneral::NoError: return Text("NoError");
        case ErrorCodesGeneral::InvalidResponse: return Text("InvalidResp");
        case ErrorCodesGeneral::UnsupportedValue: return Text("UnsupportedVal");
        case ErrorCodesGeneral::OutOfRangeValue: return Text("OutOfRangeVal");
        case ErrorCodesGeneral::UnexpectedError: return Text("UnexpectedErr");
        case ErrorCodesGeneral::FatalError: return Text("FatalError");
        }
        ORU_UNREACHABLE();
    }

private:
    static KnxErrorString Text(const char* text)
    {
        auto bounded = KnxErrorString::Create(text);
        ORU_ASSERT2(bounded);
        return *bounded;
    }
};

}  // namespace Keldra
