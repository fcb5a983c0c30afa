// The HTTPS transport behind IKeldraWebApi (library keldrawebapi), and the
// web API's rules for firmware versions and leaving-home texts. A movable
// handle: requests in flight keep the connection's state alive after the
// handle is gone, and still call their handlers.
//
// Declared here for the plug-in; defined by the web API library in
// platform/webapi/KeldraWebApi.cpp (with KeldraWebApiHelpers.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "BaseStationWebParameters.h"
#include "IKeldraWebApi.h"

namespace Keldra {

class KeldraWebApi final : public IKeldraWebApi {
public:
    class Implementation;

    // How long one request may take from the moment it is made: waiting
    // for the requests before it, connecting, the TLS handshake, sending it
    // and reading the whole answer. Past it the request fails with
    // timed_out.
    struct Timeouts {
        std::chrono::steady_clock::duration request;
    };
    // 4 s: a poll ends before the next one is due 5 s later.
    static Timeouts DefaultTimeouts();

    // A web API object for one station; requests run on the io_service, and
    // every call is made on the thread that runs it.
    static Oru::SystemResult<KeldraWebApi> Create(boost::asio::io_service& ioService,
                                                  BaseStationWebParameters parameters);
    static Oru::SystemResult<KeldraWebApi> Create(boost::asio::io_service& ioService,
                                                  BaseStationWebParameters parameters, const Timeouts& timeouts);

    KeldraWebApi(KeldraWebApi&&) noexcept = default;
    KeldraWebApi& operator=(KeldraWebApi&&) noexcept = default;
    KeldraWebApi(const KeldraWebApi&) = delete;
    KeldraWebApi& operator=(const KeldraWebApi&) = delete;
    ~KeldraWebApi() override = default;

    void GetShortInfo(ShortInfoHandler handler, CancellationToken* token) override;
    void GetStatus(StatusHandler handler, CancellationToken& token) override;
    void SetSetpointTemperature(const Room& room, double temperature, WriteHandler handler,
                                CancellationToken* token) override;
    void SetPowerLevel(const Room& room, PowerLevel level, WriteHandler handler, CancellationToken* token) override;
    void SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival, WriteHandler handler,
                        CancellationToken* token) override;
    void SetCoolingMode(bool cooling, WriteHandler handler, CancellationToken* token) override;
    const boost::optional<Credentials>& GetCredentials() const override;
    void SetCredentials(const boost::optional<Credentials>& credentials) override;
    void TrustStationKey(const std::string& fingerprint) override;
    const boost::optional<std::string>& GetPresentedStationKey() const override;

    // TLS handshakes this object's connections completed so far.
    std::size_t HandshakeCount() const;

    // The oldest firmware the web API works with, "MAJOR.MINOR.PATCH".
    static const char* MinimalVersion();

    // True when version is "MAJOR.MINOR.PATCH" (three decimal numbers of at
    // most 32 bits, leading zeros allowed, nothing else) and at least
    // MinimalVersion(), compared number by number. Anything else is false.
    static bool CheckMinimalVersion(const std::string& version);

    // "yy-mm-dd" for a date of the years 2000 to 2099; an empty text for
    // other years and for not-a-date-time and the infinities.
    static std::string GenerateLeavingHomeDateString(boost::gregorian::date date);

    // "hh:mm" (seconds and fractions dropped) for a time of day from 0:00 up
    // to, not including, 24:00; an empty text for negative or longer
    // durations and for special values.
    static std::string GenerateLeavingHomeTimeString(boost::posix_time::time_duration timeOfDay);

private:
    explicit KeldraWebApi(std::shared_ptr<Implementation> implementation);

    std::shared_ptr<Implementation> _implementation;
};

}  // namespace Keldra
