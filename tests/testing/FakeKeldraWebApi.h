// A base station web API for tests: the answer to each kind of request is
// scripted (a message or an error; delivered through the io_service, or held
// until the test releases it), and every request is recorded with its
// arguments and the credentials in force. A held request that was given a
// CancellationToken completes with CancellationToken::CancelledError() when
// the token is cancelled.
// FakeWebApiFactory hands such objects out as a WebApiFactory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>
#include <boost/system/error_code.hpp>

#include "basestations/BaseStation.h"
#include "basestations/BaseStationWebParameters.h"
#include "basestations/IKeldraWebApi.h"
#include "support/Function.h"

namespace Keldra {
namespace Testing {

enum class RequestKind { ShortInfo, Status, SetpointTemperature, PowerLevel, LeavingHome, CoolingMode };

enum class Delivery {
    Posted,  // through the io_service, as the real web API answers
    Held,    // when the test releases it (or cancels it through its token)
};

struct WebApiRequest {
    RequestKind kind = RequestKind::ShortInfo;
    boost::optional<Credentials> credentials{};  // in force when the request was made
    boost::optional<Room> room{};                // setpoint and power level writes
    double temperature = 0.0;                    // setpoint writes
    boost::optional<PowerLevel> level{};         // power level writes
    bool flag = false;                           // leaving-home active, cooling
    boost::optional<boost::posix_time::ptime> arrival{};  // leaving-home writes
};

class FakeKeldraWebApi final : public IKeldraWebApi {
public:
    FakeKeldraWebApi(boost::asio::io_service& ioService, BaseStationWebParameters parameters);
    ~FakeKeldraWebApi() override;

    // The answer to every later request of the kind. Defaults: short info
    // with the minimal firmware version, a status without rooms, writes
    // accepted; all posted.
    void AnswerShortInfo(Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> answer,
                         Delivery delivery = Delivery::Posted);
    void AnswerStatus(Oru::SystemResult<KeldraJson::StatusObject> answer, Delivery delivery = Delivery::Posted);
    // kind: one of the four writes.
    void AnswerWrite(RequestKind kind, Oru::SystemResult<WriteResponseStatus> answer,
                     Delivery delivery = Delivery::Posted);

    const BaseStationWebParameters& GetParameters() const { return _parameters; }
    // Of every kind when none is given.
    std::vector<WebApiRequest> Requests(boost::optional<RequestKind> kind = boost::none) const;
    std::size_t Count(RequestKind kind) const { return Requests(kind).size(); }
    std::size_t HeldCount(boost::optional<RequestKind> kind = boost::none) const;
    // Delivers the held answers (of one kind) through the io_service, in
    // the order of the requests.
    void ReleaseHeld(boost::optional<RequestKind> kind = boost::none);
    // Forgets the held answers without calling their handlers.
    void DropHeld();

    void GetShortInfo(ShortInfoHandler handler, CancellationToken* token) override;
    void GetStatus(StatusHandler handler, CancellationToken& token) override;
    void SetSetpointTemperature(const Room& room, double temperature, WriteHandler handler,
                                CancellationToken* token) override;
    void SetPowerLevel(const Room& room, PowerLevel level, WriteHandler handler, CancellationToken* token) override;
    void SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival, WriteHandler handler,
                        CancellationToken* token) override;
    void SetCoolingMode(bool cooling, WriteHandler handler, CancellationToken* token) override;
    const boost::optional<Credentials>& GetCredentials() const override { return _credentials; }
    void SetCredentials(const boost::optional<Credentials>& credentials) override;
    void TrustStationKey(const std::string& /*fingerprint*/) override {}
    const boost::optional<std::string>& GetPresentedStationKey() const override { return _presentedStationKey; }
    // As if the station had shown this key in a handshake.
    void PresentStationKey(const std::string& fingerprint) { _presentedStationKey = fingerprint; }

    struct State;

private:
    template <typename Message>
    void Script(RequestKind kind, Oru::SystemResult<Message> answer, Delivery delivery);
    template <typename Message>
    void Respond(WebApiRequest request, const Handler<Message>& handler, CancellationToken* token);

    boost::asio::io_service& _ioService;
    const BaseStationWebParameters _parameters;
    // Read by the station on the event loop only; the test reads it
    // through Requests().
    boost::optional<Credentials> _credentials;
    boost::optional<std::string> _presentedStationKey;
    std::shared_ptr<State> _state;
};

// Hands out FakeKeldraWebApi objects and keeps them for the test.
class FakeWebApiFactory {
public:
    using Configure = Oru::function<void(FakeKeldraWebApi&)>;

    FakeWebApiFactory();
    // Drops the held answers of every object handed out: a held handler
    // keeps its web API object alive.
    ~FakeWebApiFactory();
    FakeWebApiFactory(const FakeWebApiFactory&) = delete;
    FakeWebApiFactory& operator=(const FakeWebApiFactory&) = delete;

    WebApiFactory Factory() const;
    // Applied to every object before it is handed out.
    void OnCreate(Configure configure);
    // While set, creation fails with this error.
    void FailCreation(boost::optional<boost::system::error_code> error);

    std::size_t CreatedCount() const;
    std::shared_ptr<FakeKeldraWebApi> Created(std::size_t index) const;

    struct State;

private:
    std::shared_ptr<State> _state;
};

}  // namespace Testing
}  // namespace Keldra
