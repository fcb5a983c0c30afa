// The HTTPS transport behind IKeldraWebApi: requests to one station go out
// one at a time, in the order they were made, over one kept-alive
// connection that is set up again after any failure.
#include "basestations/KeldraWebApi.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/verb.hpp>
#include <openssl/evp.h>
#include <openssl/ssl.h>

#include "KeldraJsonCodec.h"
#include "platform/host/OruLogging.h"
#include "StationConnection.h"
#include "StationTransportError.h"
#include "basestations/BaseStationRequestError.h"
#include "support/Assert.h"

namespace Keldra {

namespace http = boost::beast::http;

namespace {

constexpr std::size_t s_headerLimit = 8 * 1024;
constexpr std::size_t s_bodyLimit = 64 * 1024;

std::string Base64(const std::string& text)
{
    std::string encoded(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&encoded[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    encoded.resize(static_cast<std::size_t>(length));
    return encoded;
}

// The Host field: the address, with the port when it is not the HTTPS one.
std::string HostField(const boost::asio::ip::tcp::endpoint& endpoint)
{
    const auto address = endpoint.address();
    std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    if (endpoint.port() != 443) {
        host += ':' + std::to_string(endpoint.port());
    }
    return host;
}

std::string RoomPath(const Room& room, const char* setting)
{
    return "/api/v1/rooms/" + std::to_string(room.Value()) + "/" + setting;
}

}  // namespace

class KeldraWebApi::Implementation : public std::enable_shared_from_this<Implementation> {
public:
    template <typename Message>
    using Decoder = Oru::SystemResult<Message> (*)(const std::string&);

    Implementation(boost::asio::io_service& ioService, std::shared_ptr<boost::asio::ssl::context> context,
                   BaseStationWebParameters parameters, const Timeouts& timeouts)
        : _ioService(ioService),
          _context(std::move(context)),
          _endpoint(parameters.endpoint),
          _host(HostField(parameters.endpoint)),
          _credentials(std::move(parameters.credentials)),
          _trustedStationKey(std::move(parameters.trustedStationKey)),
          _requestTimeout(timeouts.request),
          _limits{s_headerLimit, s_bodyLimit}
    {
    }

    // Queues the request; the handler gets the decoded answer of a 200, or
    // the error.
    template <typename Message>
    void Start(http::verb method, const std::string& target, std::string body, Handler<Message> handler,
               CancellationToken* token, Decoder<Message> decode)
    {
        auto finish = [&ioService = _ioService, handler = std::move(handler), decode](
                          const boost::system::error_code& error, const std::string& answerBody) {
            auto result = error ? Oru::SystemResult<Message>(error) : decode(answerBody);
            boost::asio::post(ioService,
                              [handler, result = std::move(result)]() mutable { handler(std::move(result)); });
        };
        Enqueue(BuildRequest(method, target, std::move(body)), std::move(finish), token);
    }

    // Fails the request before anything is sent.
    template <typename Message>
    void Reject(Handler<Message> handler, const boost::system::error_code& error)
    {
        boost::asio::post(_ioService, [handler = std::move(handler), error]() { handler(error); });
    }

    // The event loop is being destroyed: nothing queued or in flight can
    // complete any more. Their handlers are dropped unanswered, with the
    // connection.
    void DropOpenRequests()
    {
        // Dropping a handler may let go of the last outside hold on this.
        const auto self = shared_from_this();
        auto queue = std::move(_queue);
        auto inFlight = std::move(_inFlight);
        auto connection = std::move(_connection);
    }

    const boost::optional<Credentials>& GetCredentials() const { return _credentials; }
    void SetCredentials(const boost::optional<Credentials>& credentials) { _credentials = credentials; }
    std::size_t HandshakeCount() const { return *_handshakeCounter; }
    void TrustStationKey(const std::string& fingerprint) { _trustedStationKey = fingerprint; }
    const boost::optional<std::string>& GetPresentedStationKey() const { return _presentedStationKey; }

private:
    // Called once with the error, or with the body of a 200 answer.
    using Finish = std::function<void(const boost::system::error_code&, const std::string&)>;

    struct PendingRequest {
        std::uint64_t id = 0;
        StationConnection::Request request;
        Finish finish;
        CancellationToken::Registration registration;
        bool resent = false;
        std::chrono::steady_clock::time_point deadline;
    };

    StationConnection::Request BuildRequest(http::verb method, const std::string& target, std::string body) const
    {
        StationConnection::Request request(method, target, 11);
        request.set(http::field::host, _host);
        request.set(http::field::user_agent, "keldra-knx/1");
        request.set(http::field::accept, "application/json");
        request.set(http::field::connection, "keep-alive");
        if (_credentials) {
            request.set(http::field::authorization,
                        "Basic " + Base64(_credentials->username + ":" + _credentials->password));
        }
        if (!body.empty()) {
            request.set(http::field::content_type, "application/json");
            request.body() = std::move(body);
        }
        request.prepare_payload();
        return request;
    }

    void Enqueue(StationConnection::Request request, Finish finish, CancellationToken* token)
    {
        PendingRequest pending;
        pending.id = _nextId++;
        pending.request = std::move(request);
        pending.finish = std::move(finish);
        // Deliberate: one deadline for the whole request, queueing included.
        pending.deadline = std::chrono::steady_clock::now() + _requestTimeout;
        if (token != nullptr) {
            pending.registration = token->OnCancel([weakSelf = weak_from_this(), id = pending.id]() {
                if (auto self = weakSelf.lock()) {
                    self->Abort(id);
                }
            });
        }
        _queue.push_back(std::move(pending));
        SendNext();
    }

    // Requests wait in the order they were made and share one timeout, so
    // the one in flight always has the earliest deadline: a queued request
    // whose deadline passed behind it fails without being sent.
    void SendNext()
    {
        while (!_inFlight && !_queue.empty() && _queue.front().deadline <= std::chrono::steady_clock::now()) {
            auto expired = std::move(_queue.front());
            _queue.pop_front();
            expired.finish(boost::asio::error::timed_out, std::string());
        }
        if (_inFlight || _queue.empty()) {
            return;
        }
        _inFlight = std::make_unique<PendingRequest>(std::move(_queue.front()));
        _queue.pop_front();
        Send();
    }

    void Send()
    {
        if (!_connection || !_connection->IsUsable()) {
            _connection = std::make_shared<StationConnection>(_ioService, _context, _endpoint, _limits,
                                                              _handshakeCounter);
        }
        _connection->Exchange(_inFlight->request, _inFlight->deadline,
                              [weakSelf = weak_from_this()](const std::string& fingerprint) {
                                  const auto self = weakSelf.lock();
                                  return self ? self->CheckStationKey(fingerprint)
                                              : boost::system::error_code(boost::asio::error::operation_aborted);
                              },
                              [self = shared_from_this(), id = _inFlight->id](const boost::system::error_code& error,
                                                                            StationConnection::Response response) {
                                  self->OnAnswer(id, error, std::move(response));
                              });
    }

    void OnAnswer(std::uint64_t id, const boost::system::error_code& error, StationConnection::Response response)
    {
        ORU_ASSERT2(_inFlight && _inFlight->id == id);
        if (error && _connection->FailedWhileStale() && !_inFlight->resent) {
            ORU_LOG_DEBUG(_endpoint << " closed the idle connection; sending " << _inFlight->request.target()
                                    << " again on a new one");
            _inFlight->resent = true;
            Send();
            return;
        }
        auto finished = std::move(_inFlight);
        finished->registration.Reset();
        if (error) {
            finished->finish(StationTransportError(error), std::string());
        } else if (response.result() == http::status::ok) {
            finished->finish(boost::system::error_code(), response.body());
        } else {
            ORU_LOG_DEBUG(_endpoint << " answered " << finished->request.method_string() << " "
                                    << finished->request.target() << " with HTTP " << response.result_int());
            finished->finish(response.result() == http::status::unauthorized
                                 ? make_error_code(BaseStationRequestError::CredentialsRefused)
                                 : boost::system::errc::make_error_code(boost::system::errc::bad_message),
                             std::string());
        }
        SendNext();
    }

    // Without a trusted key the first one presented is trusted from then on
    // (the plug-in stores it for later objects).
    boost::system::error_code CheckStationKey(const std::string& fingerprint)
    {
        _presentedStationKey = fingerprint;
        if (!_trustedStationKey && !fingerprint.empty()) {
            _trustedStationKey = fingerprint;
        }
        if (fingerprint.empty() || fingerprint != *_trustedStationKey) {
            return make_error_code(BaseStationRequestError::StationKeyMismatch);
        }
        return boost::system::error_code();
    }

    // The abort action of a request's token: a request still queued leaves
    // the queue; for the one in flight the connection is closed, so that no
    // part of its answer is read as the answer to a later request.
    void Abort(std::uint64_t id)
    {
        if (_inFlight && _inFlight->id == id) {
            _connection->Close();
            _connection.reset();
            auto aborted = std::move(_inFlight);
            aborted->finish(CancellationToken::CancelledError(), std::string());
            SendNext();
            return;
        }
        for (auto pending = _queue.begin(); pending != _queue.end(); ++pending) {
            if (pending->id == id) {
                auto finish = std::move(pending->finish);
                _queue.erase(pending);
                finish(CancellationToken::CancelledError(), std::string());
                return;
            }
        }
    }

    boost::asio::io_service& _ioService;
    std::shared_ptr<boost::asio::ssl::context> _context;
    boost::asio::ip::tcp::endpoint _endpoint;
    std::string _host;
    boost::optional<Credentials> _credentials;
    boost::optional<std::string> _trustedStationKey;
    boost::optional<std::string> _presentedStationKey;
    std::chrono::steady_clock::duration _requestTimeout;
    StationConnection::Limits _limits;
    std::shared_ptr<std::size_t> _handshakeCounter = std::make_shared<std::size_t>(0);
    std::uint64_t _nextId = 0;
    std::deque<PendingRequest> _queue;
    std::unique_ptr<PendingRequest> _inFlight;
    std::shared_ptr<StationConnection> _connection;
};

namespace {

// The web API objects of one event loop. A request's handler usually holds
// the web API object it was made on (a station keeps it until the answer), and
// the object holds the handler until then: when the event loop is destroyed
// with requests open, each object drops them, or the two would keep each
// other, the connection and its socket alive for ever.
class OpenRequests final : public boost::asio::execution_context::service {
public:
    using key_type = OpenRequests;
    static boost::asio::execution_context::id id;

    explicit OpenRequests(boost::asio::execution_context& context) : service(context) {}

    void Add(const std::shared_ptr<KeldraWebApi::Implementation>& implementation)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _implementations.erase(std::remove_if(_implementations.begin(), _implementations.end(),
                                              [](const auto& entry) { return entry.expired(); }),
                               _implementations.end());
        _implementations.push_back(implementation);
    }

private:
    void shutdown() override
    {
        std::vector<std::weak_ptr<KeldraWebApi::Implementation>> implementations;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            implementations.swap(_implementations);
        }
        for (const auto& entry : implementations) {
            if (const auto implementation = entry.lock()) {
                implementation->DropOpenRequests();
            }
        }
    }

    std::mutex _mutex;
    std::vector<std::weak_ptr<KeldraWebApi::Implementation>> _implementations;
};

boost::asio::execution_context::id OpenRequests::id;

}  // namespace

KeldraWebApi::KeldraWebApi(std::shared_ptr<Implementation> implementation)
    : _implementation(std::move(implementation))
{
}

KeldraWebApi::Timeouts KeldraWebApi::DefaultTimeouts()
{
    return Timeouts{std::chrono::seconds(4)};
}

Oru::SystemResult<KeldraWebApi> KeldraWebApi::Create(boost::asio::io_service& ioService,
                                                     BaseStationWebParameters parameters)
{
    return Create(ioService, std::move(parameters), DefaultTimeouts());
}

Oru::SystemResult<KeldraWebApi> KeldraWebApi::Create(boost::asio::io_service& ioService,
                                                     BaseStationWebParameters parameters, const Timeouts& timeouts)
{
    std::shared_ptr<boost::asio::ssl::context> context;
    try {
        context = std::make_shared<boost::asio::ssl::context>(boost::asio::ssl::context::tls_client);
    } catch (const boost::system::system_error& error) {
        ORU_LOG_ERROR("Cannot create the TLS context: " << Oru::LogEntryFormatter(error.code()));
        return error.code();
    }
    // Stations present self-signed certificates: there is no chain to check;
    // the station's key is pinned instead (docs/web-api-contract.md,
    // "Transport security").
    context->set_verify_mode(boost::asio::ssl::verify_none);
    SSL_CTX_set_options(context->native_handle(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION) != 1) {
        const boost::system::error_code error(static_cast<int>(ERR_get_error()),
                                              boost::asio::error::get_ssl_category());
        ORU_LOG_ERROR("Cannot require TLS 1.2: " << Oru::LogEntryFormatter(error));
        return error;
    }
    auto implementation =
        std::make_shared<Implementation>(ioService, std::move(context), std::move(parameters), timeouts);
    boost::asio::use_service<OpenRequests>(ioService).Add(implementation);
    return KeldraWebApi(std::move(implementation));
}

void KeldraWebApi::GetShortInfo(ShortInfoHandler handler, CancellationToken* token)
{
    ORU_ASSERT2(_implementation);
    _implementation->Start<KeldraJson::BaseStationShortInfoMessage>(
        http::verb::get, "/api/v1/info", std::string(), std::move(handler), token, &KeldraJsonCodec::DecodeShortInfo);
}

void KeldraWebApi::GetStatus(StatusHandler handler, CancellationToken& token)
{
    ORU_ASSERT2(_implementation);
    _implementation->Start<KeldraJson::StatusObject>(http::verb::get, "/api/v1/status", std::string(),
                                                     std::move(handler), &token, &KeldraJsonCodec::DecodeStatus);
}

void KeldraWebApi::SetSetpointTemperature(const Room& room, double temperature, WriteHandler handler,
                                          CancellationToken* token)
{
    ORU_ASSERT2(_implementation);
    auto body = KeldraJsonCodec::EncodeSetpointRequest(temperature);
    if (!body) {
        return _implementation->Reject(std::move(handler),
                                       make_error_code(BaseStationRequestError::InvalidRequestValue));
    }
    _implementation->Start<WriteResponseStatus>(http::verb::put, RoomPath(room, "setpoint"), std::move(*body),
                                                std::move(handler), token, &KeldraJsonCodec::DecodeWriteResponse);
}

void KeldraWebApi::SetPowerLevel(const Room& room, PowerLevel level, WriteHandler handler, CancellationToken* token)
{
    ORU_ASSERT2(_implementation);
    KeldraJson::PowerLevelControlObject powerLevel;
    powerLevel.powerLevel = level.Value();
    powerLevel.minimumLevel = PowerLevel::Min;
    powerLevel.maximumLevel = PowerLevel::Max;
    _implementation->Start<WriteResponseStatus>(http::verb::put, RoomPath(room, "powerlevel"),
                                                KeldraJsonCodec::EncodePowerLevelRequest(powerLevel),
                                                std::move(handler), token, &KeldraJsonCodec::DecodeWriteResponse);
}

void KeldraWebApi::SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                                  WriteHandler handler, CancellationToken* token)
{
    ORU_ASSERT2(_implementation);
    KeldraJson::LeavingHomeObject leavingHome;
    leavingHome.active = active;
    if (arrival) {
        auto date = arrival->is_special() ? std::string() : GenerateLeavingHomeDateString(arrival->date());
        auto time = arrival->is_special() ? std::string() : GenerateLeavingHomeTimeString(arrival->time_of_day());
        if (date.empty() || time.empty()) {
            return _implementation->Reject(std::move(handler),
                                           make_error_code(BaseStationRequestError::InvalidRequestValue));
        }
        leavingHome.date = std::move(date);
        leavingHome.time = std::move(time);
    }
    _implementation->Start<WriteResponseStatus>(http::verb::put, "/api/v1/leavinghome",
                                                KeldraJsonCodec::EncodeLeavingHomeRequest(leavingHome),
                                                std::move(handler), token, &KeldraJsonCodec::DecodeWriteResponse);
}

void KeldraWebApi::SetCoolingMode(bool cooling, WriteHandler handler, CancellationToken* token)
{
    ORU_ASSERT2(_implementation);
    KeldraJson::SettingsObject settings;
    settings.coolingMode = cooling;
    _implementation->Start<WriteResponseStatus>(http::verb::put, "/api/v1/settings",
                                                KeldraJsonCodec::EncodeSettingsRequest(settings), std::move(handler),
                                                token, &KeldraJsonCodec::DecodeWriteResponse);
}

const boost::optional<Credentials>& KeldraWebApi::GetCredentials() const
{
    ORU_ASSERT2(_implementation);
    return _implementation->GetCredentials();
}

void KeldraWebApi::SetCredentials(const boost::optional<Credentials>& credentials)
{
    ORU_ASSERT2(_implementation);
    _implementation->SetCredentials(credentials);
}

void KeldraWebApi::TrustStationKey(const std::string& fingerprint)
{
    ORU_ASSERT2(_implementation);
    _implementation->TrustStationKey(fingerprint);
}

const boost::optional<std::string>& KeldraWebApi::GetPresentedStationKey() const
{
    ORU_ASSERT2(_implementation);
    return _implementation->GetPresentedStationKey();
}

std::size_t KeldraWebApi::HandshakeCount() const
{
    ORU_ASSERT2(_implementation);
    return _implementation->HandshakeCount();
}

}  // namespace Keldra
