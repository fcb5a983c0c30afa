#include "FakeKeldraWebApi.h"

#include <algorithm>
#include <any>
#include <map>
#include <utility>

#include <boost/asio/post.hpp>

#include "basestations/KeldraWebApi.h"

namespace Keldra {
namespace Testing {

struct FakeKeldraWebApi::State {
    struct Held {
        std::uint64_t id;
        RequestKind kind;
        Oru::function<void(bool cancelled)> finish;
        CancellationToken::Registration registration;
    };

    // Takes the held answers (of one kind) out, in the order of the requests.
    std::vector<Held> Take(boost::optional<RequestKind> kind)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto split = std::stable_partition(held.begin(), held.end(),
                                                 [kind](const Held& entry) { return kind && entry.kind != *kind; });
        std::vector<Held> taken(std::make_move_iterator(split), std::make_move_iterator(held.end()));
        held.erase(split, held.end());
        return taken;
    }

    std::mutex mutex;
    // By kind: the Oru::SystemResult of the kind's message, and its delivery.
    std::map<RequestKind, std::pair<std::any, Delivery>> answers;
    std::vector<WebApiRequest> requests;
    std::uint64_t nextHeldId = 0;
    std::vector<Held> held;
};

FakeKeldraWebApi::FakeKeldraWebApi(boost::asio::io_service& ioService, BaseStationWebParameters parameters)
    : _ioService(ioService), _parameters(std::move(parameters)), _credentials(_parameters.credentials),
      _state(std::make_shared<State>())
{
    AnswerShortInfo(KeldraJson::BaseStationShortInfoMessage{std::string(KeldraWebApi::MinimalVersion()), {}, {}});
    AnswerStatus(KeldraJson::StatusObject());
    for (const auto kind : {RequestKind::SetpointTemperature, RequestKind::PowerLevel, RequestKind::LeavingHome,
                            RequestKind::CoolingMode}) {
        AnswerWrite(kind, WriteResponseStatus::Accepted);
    }
}

FakeKeldraWebApi::~FakeKeldraWebApi() { DropHeld(); }

template <typename Message>
void FakeKeldraWebApi::Script(RequestKind kind, Oru::SystemResult<Message> answer, Delivery delivery)
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->answers[kind] = {std::move(answer), delivery};
}

void FakeKeldraWebApi::AnswerShortInfo(Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> answer,
                                       Delivery delivery)
{
    Script(RequestKind::ShortInfo, std::move(answer), delivery);
}

void FakeKeldraWebApi::AnswerStatus(Oru::SystemResult<KeldraJson::StatusObject> answer, Delivery delivery)
{
    Script(RequestKind::Status, std::move(answer), delivery);
}

void FakeKeldraWebApi::AnswerWrite(RequestKind kind, Oru::SystemResult<WriteResponseStatus> answer,
                                   Delivery delivery)
{
    Script(kind, std::move(answer), delivery);
}

std::vector<WebApiRequest> FakeKeldraWebApi::Requests(boost::optional<RequestKind> kind) const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    std::vector<WebApiRequest> requests;
    std::copy_if(_state->requests.begin(), _state->requests.end(), std::back_inserter(requests),
                 [kind](const WebApiRequest& request) { return !kind || request.kind == *kind; });
    return requests;
}

std::size_t FakeKeldraWebApi::HeldCount(boost::optional<RequestKind> kind) const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return static_cast<std::size_t>(std::count_if(_state->held.begin(), _state->held.end(), [kind](const auto& held) {
        return !kind || held.kind == *kind;
    }));
}

void FakeKeldraWebApi::ReleaseHeld(boost::optional<RequestKind> kind)
{
    for (auto& held : _state->Take(kind)) {
        boost::asio::post(_ioService, [finish = held.finish]() { finish(false); });
    }
}

// The handlers die here, outside the lock.
void FakeKeldraWebApi::DropHeld() { _state->Take(boost::none); }

template <typename Message>
void FakeKeldraWebApi::Respond(WebApiRequest request, const Handler<Message>& handler, CancellationToken* token)
{
    request.credentials = _credentials;
    std::unique_lock<std::mutex> lock(_state->mutex);
    _state->requests.push_back(request);
    const auto& [answer, delivery] = _state->answers.at(request.kind);
    const Oru::function<void(bool)> finish = [handler, result = std::any_cast<Oru::SystemResult<Message>>(answer)](
                                                 bool cancelled) {
        if (cancelled) {
            handler(CancellationToken::CancelledError());
        } else {
            handler(result);
        }
    };
    if (delivery == Delivery::Posted) {
        lock.unlock();
        boost::asio::post(_ioService, [finish]() { finish(false); });
        return;
    }
    State::Held held{_state->nextHeldId++, request.kind, finish, {}};
    if (token != nullptr) {
        held.registration = token->OnCancel([weakState = std::weak_ptr<State>(_state), ioService = &_ioService,
                                             id = held.id]() {
            const auto state = weakState.lock();
            if (!state) {
                return;
            }
            std::unique_lock<std::mutex> cancelLock(state->mutex);
            const auto entry = std::find_if(state->held.begin(), state->held.end(),
                                            [id](const State::Held& candidate) { return candidate.id == id; });
            if (entry != state->held.end()) {
                boost::asio::post(*ioService, [finish = entry->finish]() { finish(true); });
                const auto cancelled = std::move(*entry);  // dies outside the lock
                state->held.erase(entry);
                cancelLock.unlock();
            }
        });
    }
    _state->held.push_back(std::move(held));
}

void FakeKeldraWebApi::GetShortInfo(ShortInfoHandler handler, CancellationToken* token)
{
    Respond<KeldraJson::BaseStationShortInfoMessage>({RequestKind::ShortInfo}, handler, token);
}

void FakeKeldraWebApi::GetStatus(StatusHandler handler, CancellationToken& token)
{
    Respond<KeldraJson::StatusObject>({RequestKind::Status}, handler, &token);
}

void FakeKeldraWebApi::SetSetpointTemperature(const Room& room, double temperature, WriteHandler handler,
                                              CancellationToken* token)
{
    Respond<WriteResponseStatus>({RequestKind::SetpointTemperature, {}, room, temperature}, handler, token);
}

void FakeKeldraWebApi::SetPowerLevel(const Room& room, PowerLevel level, WriteHandler handler,
                                     CancellationToken* token)
{
    Respond<WriteResponseStatus>({RequestKind::PowerLevel, {}, room, 0.0, level}, handler, token);
}

void FakeKeldraWebApi::SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                                      WriteHandler handler, CancellationToken* token)
{
    Respond<WriteResponseStatus>({RequestKind::LeavingHome, {}, {}, 0.0, {}, active, arrival}, handler, token);
}

void FakeKeldraWebApi::SetCoolingMode(bool cooling, WriteHandler handler, CancellationToken* token)
{
    Respond<WriteResponseStatus>({RequestKind::CoolingMode, {}, {}, 0.0, {}, cooling}, handler, token);
}

void FakeKeldraWebApi::SetCredentials(const boost::optional<Credentials>& credentials) { _credentials = credentials; }

struct FakeWebApiFactory::State {
    std::mutex mutex;
    Configure configure;
    boost::optional<boost::system::error_code> failure;
    std::vector<std::shared_ptr<FakeKeldraWebApi>> created;
};

FakeWebApiFactory::FakeWebApiFactory() : _state(std::make_shared<State>()) {}

FakeWebApiFactory::~FakeWebApiFactory()
{
    for (std::size_t index = 0; index < CreatedCount(); ++index) {
        Created(index)->DropHeld();
    }
}

WebApiFactory FakeWebApiFactory::Factory() const
{
    return [state = _state](boost::asio::io_service& ioService,
                            BaseStationWebParameters&& parameters) -> Oru::SystemResult<std::shared_ptr<IKeldraWebApi>> {
        std::unique_lock<std::mutex> lock(state->mutex);
        if (state->failure) {
            return *state->failure;
        }
        const auto configure = state->configure;
        lock.unlock();
        auto webApi = std::make_shared<FakeKeldraWebApi>(ioService, std::move(parameters));
        if (configure) {
            configure(*webApi);
        }
        lock.lock();
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
    _state->failure = error;
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

}  // namespace Testing
}  // namespace Keldra
