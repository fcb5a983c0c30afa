#include "FakeKeldraWebApi.h"

#include <algorithm>
#include <utility>

#include <boost/asio/post.hpp>

#include "basestations/KeldraWebApi.h"

namespace Keldra {
namespace Testing {

std::ostream& operator<<(std::ostream& stream, RequestKind kind)
{
    switch (kind) {
    case RequestKind::ShortInfo: return stream << "ShortInfo";
    case RequestKind::Status: return stream << "Status";
    case RequestKind::SetpointTemperature: return stream << "SetpointTemperature";
    case RequestKind::PowerLevel: return stream << "PowerLevel";
    case RequestKind::LeavingHome: return stream << "LeavingHome";
    case RequestKind::CoolingMode: return stream << "CoolingMode";
    }
    return stream << "RequestKind(" << static_cast<int>(kind) << ")";
}

struct FakeKeldraWebApi::State {
    template <typename Message>
    struct Answer {
        Oru::SystemResult<Message> result;
        Delivery delivery;
    };

    struct Held {
        std::uint64_t id;
        RequestKind kind;
        Oru::function<void()> deliver;
        Oru::function<void()> cancel;
        CancellationToken::Registration registration;
    };

    mutable std::mutex mutex;
    Answer<KeldraJson::BaseStationShortInfoMessage> shortInfo{
        KeldraJson::BaseStationShortInfoMessage{std::string(KeldraWebApi::MinimalVersion()), boost::none,
                                                boost::none},
        Delivery::Posted};
    Answer<KeldraJson::StatusObject> status{KeldraJson::StatusObject(), Delivery::Posted};
    Answer<WriteResponseStatus> setpoint{WriteResponseStatus::Accepted, Delivery::Posted};
    Answer<WriteResponseStatus> powerLevel{WriteResponseStatus::Accepted, Delivery::Posted};
    Answer<WriteResponseStatus> leavingHome{WriteResponseStatus::Accepted, Delivery::Posted};
    Answer<WriteResponseStatus> coolingMode{WriteResponseStatus::Accepted, Delivery::Posted};
    std::vector<WebApiRequest> requests;
    std::size_t setCredentialsCount = 0;
    std::uint64_t nextHeldId = 0;
    std::vector<Held> held;

    Answer<WriteResponseStatus>& WriteAnswer(RequestKind kind)
    {
        switch (kind) {
        case RequestKind::SetpointTemperature: return setpoint;
        case RequestKind::PowerLevel: return powerLevel;
        case RequestKind::LeavingHome: return leavingHome;
        case RequestKind::CoolingMode: return coolingMode;
        case RequestKind::ShortInfo:
        case RequestKind::Status: break;
        }
        ORU_REQUIRE(false && "not a write");
        return setpoint;
    }
};

FakeKeldraWebApi::FakeKeldraWebApi(boost::asio::io_service& ioService, BaseStationWebParameters parameters)
    : _ioService(ioService),
      _parameters(std::move(parameters)),
      _credentials(_parameters.credentials),
      _state(std::make_shared<State>())
{
}

FakeKeldraWebApi::~FakeKeldraWebApi() { DropHeld(); }

void FakeKeldraWebApi::AnswerShortInfo(Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> answer,
                                       Delivery delivery)
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->shortInfo = {std::move(answer), delivery};
}

void FakeKeldraWebApi::AnswerStatus(Oru::SystemResult<KeldraJson::StatusObject> answer, Delivery delivery)
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->status = {std::move(answer), delivery};
}

void FakeKeldraWebApi::AnswerWrite(RequestKind kind, Oru::SystemResult<WriteResponseStatus> answer,
                                   Delivery delivery)
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->WriteAnswer(kind) = {std::move(answer), delivery};
}

std::vector<WebApiRequest> FakeKeldraWebApi::Requests() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->requests;
}

std::vector<WebApiRequest> FakeKeldraWebApi::Requests(RequestKind kind) const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    std::vector<WebApiRequest> requests;
    std::copy_if(_state->requests.begin(), _state->requests.end(), std::back_inserter(requests),
                 [kind](const WebApiRequest& request) { return request.kind == kind; });
    return requests;
}

std::size_t FakeKeldraWebApi::Count(RequestKind kind) const { return Requests(kind).size(); }

std::size_t FakeKeldraWebApi::SetCredentialsCount() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->setCredentialsCount;
}

std::size_t FakeKeldraWebApi::HeldCount() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->held.size();
}

std::size_t FakeKeldraWebApi::HeldCount(RequestKind kind) const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return static_cast<std::size_t>(std::count_if(_state->held.begin(), _state->held.end(),
                                                  [kind](const State::Held& held) { return held.kind == kind; }));
}

void FakeKeldraWebApi::ReleaseHeld()
{
    std::vector<State::Held> released;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        released.swap(_state->held);
    }
    for (auto& held : released) {
        boost::asio::post(_ioService, held.deliver);
    }
}

void FakeKeldraWebApi::ReleaseHeld(RequestKind kind)
{
    std::vector<State::Held> released;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        auto& held = _state->held;
        const auto split = std::stable_partition(held.begin(), held.end(),
                                                 [kind](const State::Held& entry) { return entry.kind != kind; });
        std::move(split, held.end(), std::back_inserter(released));
        held.erase(split, held.end());
    }
    for (auto& held : released) {
        boost::asio::post(_ioService, held.deliver);
    }
}

void FakeKeldraWebApi::DropHeld()
{
    std::vector<State::Held> dropped;
    std::lock_guard<std::mutex> lock(_state->mutex);
    dropped.swap(_state->held);
    // The handlers die here, outside nothing that they could reach.
}

template <typename Message>
void FakeKeldraWebApi::Respond(WebApiRequest request, const Oru::SystemResult<Message>& answer, Delivery delivery,
                               const Handler<Message>& handler, CancellationToken* token)
{
    request.credentials = _credentials;
    request.withToken = token != nullptr;
    const RequestKind kind = request.kind;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        _state->requests.push_back(std::move(request));
    }
    switch (delivery) {
    case Delivery::Immediately:
        handler(answer);
        return;
    case Delivery::Posted:
        boost::asio::post(_ioService, [handler, answer]() { handler(answer); });
        return;
    case Delivery::Held:
        break;
    }

    std::lock_guard<std::mutex> lock(_state->mutex);
    const std::uint64_t id = _state->nextHeldId++;
    State::Held held{id, kind, [handler, answer]() { handler(answer); },
                     [handler]() { handler(CancellationToken::CancelledError()); }, {}};
    if (token != nullptr) {
        held.registration = token->OnCancel([weakState = std::weak_ptr<State>(_state), ioService = &_ioService, id]() {
            const auto state = weakState.lock();
            if (!state) {
                return;
            }
            Oru::function<void()> cancel;
            {
                std::lock_guard<std::mutex> cancelLock(state->mutex);
                auto& heldRequests = state->held;
                const auto entry = std::find_if(heldRequests.begin(), heldRequests.end(),
                                                [id](const State::Held& candidate) { return candidate.id == id; });
                if (entry == heldRequests.end()) {
                    return;
                }
                cancel = entry->cancel;
                heldRequests.erase(entry);
            }
            boost::asio::post(*ioService, cancel);
        });
    }
    _state->held.push_back(std::move(held));
}

void FakeKeldraWebApi::GetShortInfo(ShortInfoHandler handler, CancellationToken* token)
{
    WebApiRequest request;
    request.kind = RequestKind::ShortInfo;
    State::Answer<KeldraJson::BaseStationShortInfoMessage> answer = [this] {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return _state->shortInfo;
    }();
    Respond(std::move(request), answer.result, answer.delivery, handler, token);
}

void FakeKeldraWebApi::GetStatus(StatusHandler handler, CancellationToken& token)
{
    WebApiRequest request;
    request.kind = RequestKind::Status;
    State::Answer<KeldraJson::StatusObject> answer = [this] {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return _state->status;
    }();
    Respond(std::move(request), answer.result, answer.delivery, handler, &token);
}

void FakeKeldraWebApi::SetSetpointTemperature(const Room& room, double temperature, WriteHandler handler,
                                              CancellationToken* token)
{
    WebApiRequest request;
    request.kind = RequestKind::SetpointTemperature;
    request.room = room;
    request.temperature = temperature;
    State::Answer<WriteResponseStatus> answer = [this] {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return _state->setpoint;
    }();
    Respond(std::move(request), answer.result, answer.delivery, handler, token);
}

void FakeKeldraWebApi::SetPowerLevel(const Room& room, PowerLevel level, WriteHandler handler,
                                     CancellationToken* token)
{
    WebApiRequest request;
    request.kind = RequestKind::PowerLevel;
    request.room = room;
    request.level = level;
    State::Answer<WriteResponseStatus> answer = [this] {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return _state->powerLevel;
    }();
    Respond(std::move(request), answer.result, answer.delivery, handler, token);
}

void FakeKeldraWebApi::SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                                      WriteHandler handler, CancellationToken* token)
{
    WebApiRequest request;
    request.kind = RequestKind::LeavingHome;
    request.flag = active;
    request.arrival = arrival;
    State::Answer<WriteResponseStatus> answer = [this] {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return _state->leavingHome;
    }();
    Respond(std::move(request), answer.result, answer.delivery, handler, token);
}

void FakeKeldraWebApi::SetCoolingMode(bool cooling, WriteHandler handler, CancellationToken* token)
{
    WebApiRequest request;
    request.kind = RequestKind::CoolingMode;
    request.flag = cooling;
    State::Answer<WriteResponseStatus> answer = [this] {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return _state->coolingMode;
    }();
    Respond(std::move(request), answer.result, answer.delivery, handler, token);
}

const boost::optional<Credentials>& FakeKeldraWebApi::GetCredentials() const { return _credentials; }

void FakeKeldraWebApi::SetCredentials(const boost::optional<Credentials>& credentials)
{
    _credentials = credentials;
    std::lock_guard<std::mutex> lock(_state->mutex);
    ++_state->setCredentialsCount;
}

// ---------------------------------------------------------------------------

struct FakeWebApiFactory::State {
    mutable std::mutex mutex;
    Configure configure;
    boost::optional<boost::system::error_code> failure;
    std::vector<std::shared_ptr<FakeKeldraWebApi>> created;
    std::vector<BaseStationWebParameters> parameters;
};

FakeWebApiFactory::FakeWebApiFactory() : _state(std::make_shared<State>()) {}

FakeWebApiFactory::~FakeWebApiFactory()
{
    std::vector<std::shared_ptr<FakeKeldraWebApi>> created;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        created = _state->created;
    }
    for (const auto& webApi : created) {
        webApi->DropHeld();
    }
}

WebApiFactory FakeWebApiFactory::Factory() const
{
    return [state = _state](boost::asio::io_service& ioService,
                            BaseStationWebParameters&& parameters) -> Oru::SystemResult<std::shared_ptr<IKeldraWebApi>> {
        Configure configure;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->parameters.push_back(parameters);
            if (state->failure) {
                return *state->failure;
            }
            configure = state->configure;
        }
        auto webApi = std::make_shared<FakeKeldraWebApi>(ioService, std::move(parameters));
        if (configure) {
            configure(*webApi);
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        state->created.push_back(webApi);
        return std::shared_ptr<IKeldraWebApi>(webApi);
    };
}

void FakeWebApiFactory::OnCreate(Configure configure)
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->configure = std::move(configure);
}

void FakeWebApiFactory::FailCreation(boost::optional<boost::system::error_code> error)
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->failure = std::move(error);
}

std::size_t FakeWebApiFactory::CreatedCount() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->created.size();
}

std::shared_ptr<FakeKeldraWebApi> FakeWebApiFactory::Created(std::size_t index) const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->created.at(index);
}

std::shared_ptr<FakeKeldraWebApi> FakeWebApiFactory::Last() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->created.empty() ? nullptr : _state->created.back();
}

std::vector<BaseStationWebParameters> FakeWebApiFactory::Parameters() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->parameters;
}

}  // namespace Testing
}  // namespace Keldra
