// The web API of one base station: asynchronous requests over HTTPS and the
// credentials they are sent with. Every request calls its handler exactly
// once, through the event loop (never from inside the call), with the
// answer or an error code: a BaseStationRequestError, a Boost.Asio
// transport error, or CancellationToken::CancelledError() when the request
// was cancelled through its token.
#pragma once

#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>

#include "CancellationToken.h"
#include "Credentials.h"
#include "basestations/KeldraJson/BaseStationShortInfoMessage.h"
#include "basestations/KeldraJson/StatusObject.h"
#include "WriteResponseStatus.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/SystemResult.h"

namespace Keldra {

class IKeldraWebApi {
public:
    template <typename Message>
    using Handler = Oru::function<void(Oru::SystemResult<Message>)>;
    using ShortInfoHandler = Handler<KeldraJson::BaseStationShortInfoMessage>;
    using StatusHandler = Handler<KeldraJson::StatusObject>;
    using WriteHandler = Handler<WriteResponseStatus>;

    virtual ~IKeldraWebApi() = default;

    // Firmware version and identity; needs no credentials.
    virtual void GetShortInfo(ShortInfoHandler handler, CancellationToken* token) = 0;
    virtual void GetStatus(StatusHandler handler, CancellationToken& token) = 0;
    // Degrees Celsius; a value that is not finite fails with InvalidRequestValue.
    virtual void SetSetpointTemperature(const Room& room, double temperature, WriteHandler handler,
                                        CancellationToken* token) = 0;
    virtual void SetPowerLevel(const Room& room, PowerLevel level, WriteHandler handler,
                               CancellationToken* token) = 0;
    // The arrival is sent as the texts of GenerateLeavingHomeDateString and
    // GenerateLeavingHomeTimeString; one that has no text fails with
    // InvalidRequestValue.
    virtual void SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                                WriteHandler handler, CancellationToken* token) = 0;
    virtual void SetCoolingMode(bool cooling, WriteHandler handler, CancellationToken* token) = 0;
    virtual const boost::optional<Credentials>& GetCredentials() const = 0;
    // For requests started after the call.
    virtual void SetCredentials(const boost::optional<Credentials>& credentials) = 0;
    // The SHA-256 fingerprint of the public key the station must present
    // (StationKeyFingerprint) for any request to be written, from the next
    // request on. Until a key is trusted, the first one presented is.
    virtual void TrustStationKey(const std::string& fingerprint) = 0;
    // The fingerprint of the key presented in the latest handshake; empty
    // before the first.
    virtual const boost::optional<std::string>& GetPresentedStationKey() const = 0;
};

}  // namespace Keldra
