// The web API client against a real HTTPS server on the loopback interface,
// on a real io_service.
#include <sys/resource.h>

#include <limits>
#include <regex>

#include <boost/asio/ssl/error.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gtest/gtest.h>

#include "StatusExample.h"
#include "TestHttpsStation.h"
#include "basestations/BaseStationRequestError.h"
#include "basestations/KeldraWebApi.h"
#include "platform/webapi/StationTransportError.h"
#include "tests/testing/EventLoop.h"

using namespace Keldra;
using namespace Keldra::Testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
using Action = TestHttpsStation::Action;
using Greeting = TestHttpsStation::Greeting;
using Reply = TestHttpsStation::Reply;
using Status = KeldraJson::StatusObject;
using Info = KeldraJson::BaseStationShortInfoMessage;
using boost::system::error_code;

const error_code s_badMessage = boost::system::errc::make_error_code(boost::system::errc::bad_message);
const error_code s_unusable = make_error_code(BaseStationRequestError::UnusableMessage);
const std::string s_example = ::testing::PrintToString(StatusExampleObject());

// What a handler received: the error, or the message printed.
struct Outcome {
    int calls = 0;
    int order = 0;  // 1 for the first handler called
    error_code error;
    std::string value;
};

class KeldraWebApiClient : public ::testing::Test {
protected:
    KeldraWebApiClient() : _api(CreateApi(KeldraWebApi::DefaultTimeouts()))
    {
        _station->AnswerEveryRequestWith(TestHttpsStation::Json(StatusExampleJson()));
    }

    // Every handler is called exactly once, never late or twice.
    void TearDown() override
    {
        RunUntil([this] {
            return std::all_of(_outcomes.begin(), _outcomes.end(), [](const auto& o) { return o->calls > 0; });
        });
        _station->Stop();
        for (int round = 0; round < 10; ++round) {
            Oru::Testing::RunReady(_ioService);
        }
        for (const auto& outcome : _outcomes) {
            EXPECT_EQ(outcome->calls, 1) << "handler of request " << (&outcome - _outcomes.data());
        }
    }

    KeldraWebApi CreateApi(const KeldraWebApi::Timeouts& timeouts, boost::asio::ip::tcp::endpoint endpoint = {})
    {
        endpoint = endpoint.port() == 0 ? _station->Endpoint() : endpoint;
        auto result = KeldraWebApi::Create(_ioService, BaseStationWebParameters(endpoint, Credentials{"user", "secret"}),
                                           timeouts);
        EXPECT_TRUE(result.HasValue());
        return std::move(result.GetValue());
    }

    template <typename Message>
    IKeldraWebApi::Handler<Message> Track(std::shared_ptr<Outcome>& outcome)
    {
        outcome = std::make_shared<Outcome>();
        _outcomes.push_back(outcome);
        return [outcome, &answered = _answered](Oru::SystemResult<Message> result) {
            ++outcome->calls;
            outcome->order = ++answered;
            outcome->error = result.GetError();
            outcome->value = result.HasValue() ? ::testing::PrintToString(result.GetValue()) : "";
        };
    }

    // Runs the event loop until done() holds; false after the time limit.
    bool RunUntil(const std::function<bool()>& done) { return Oru::Testing::RunUntil(_ioService, done, 20s); }
    bool RunUntilCalled(const std::shared_ptr<Outcome>& outcome)
    {
        return RunUntil([&outcome] { return outcome->calls > 0; });
    }

    std::shared_ptr<Outcome> Poll(KeldraWebApi& api)
    {
        std::shared_ptr<Outcome> outcome;
        api.GetStatus(Track<Status>(outcome), _token);
        EXPECT_TRUE(RunUntilCalled(outcome));
        return outcome;
    }
    void ExpectAWorkingPoll(KeldraWebApi& api)
    {
        const auto outcome = Poll(api);
        EXPECT_EQ(outcome->error, error_code()) << outcome->error.message();
        EXPECT_EQ(outcome->value, s_example);
    }

    boost::asio::io_service _ioService;
    std::shared_ptr<TestHttpsStation> _station = TestHttpsStation::Start(_ioService);
    KeldraWebApi _api;
    CancellationToken _token;
    std::vector<std::shared_ptr<Outcome>> _outcomes;
    int _answered = 0;
};

// Made together, the requests go out one at a time in order on one
// connection; credentials apply to the requests made after the change.
TEST_F(KeldraWebApiClient, EveryRequestOnTheWire)
{
    const struct {
        const char *answer, *expected, *wire;
    } cases[] = {
        {R"({"stationId": "0123456789", "model": "Brisgo", "firmwareVersion": "2.4.1"})", nullptr,
         "GET /api/v1/info "},
        {nullptr, nullptr, "GET /api/v1/status "},
        {R"({"status": 0})", "Accepted", R"(PUT /api/v1/rooms/3/setpoint {"setpointTemperature":21.5})"},
        {R"({"status": 1})", "OutOfRange",
         R"(PUT /api/v1/rooms/12/powerlevel {"level":7,"minimumLevel":0,"maximumLevel":10})"},
        {R"({"status": 2})", "InvalidCookie",
         R"(PUT /api/v1/leavinghome {"active":true,"date":"24-05-20","time":"18:30"})"},
        {R"({"status": 7})", "WriteResponseStatus(7)", R"(PUT /api/v1/leavinghome {"active":false})"},
        {R"({"status": 0})", "Accepted", R"(PUT /api/v1/settings {"cooling":true})"},
        {R"({"status": 0})", "Accepted", R"(PUT /api/v1/settings {"cooling":false})"},
        {R"({"status": 0})", "Accepted", R"(PUT /api/v1/settings {"cooling":false})"},
        {R"({"status": 0})", "Accepted", R"(PUT /api/v1/settings {"cooling":false})"},
    };
    _station->script = [&](const TestHttpsStation::Request&) {
        const char* answer = cases[_station->requests.size() - 1].answer;
        return TestHttpsStation::Json(answer ? answer : StatusExampleJson());
    };
    std::shared_ptr<Outcome> outcomes[10];
    _api.GetShortInfo(Track<Info>(outcomes[0]), nullptr);
    _api.GetStatus(Track<Status>(outcomes[1]), _token);
    _api.SetSetpointTemperature(Room::Constant<3u>(), 21.5, Track<WriteResponseStatus>(outcomes[2]), nullptr);
    _api.SetPowerLevel(Room::Constant<12u>(), PowerLevel::Constant<7>(), Track<WriteResponseStatus>(outcomes[3]),
                       nullptr);
    const boost::posix_time::ptime arrival(boost::gregorian::date(2024, 5, 20), boost::posix_time::hours(18) +
                                                                                    boost::posix_time::minutes(30) +
                                                                                    boost::posix_time::seconds(59));
    _api.SetLeavingHome(true, arrival, Track<WriteResponseStatus>(outcomes[4]), nullptr);
    _api.SetLeavingHome(false, boost::none, Track<WriteResponseStatus>(outcomes[5]), nullptr);
    _api.SetCoolingMode(true, Track<WriteResponseStatus>(outcomes[6]), nullptr);
    _api.SetCoolingMode(false, Track<WriteResponseStatus>(outcomes[7]), nullptr);
    EXPECT_EQ(outcomes[0]->calls, 0) << "called from inside the request";
    _api.SetCredentials(Credentials{"installer", "p:ss\xc3\xa4"});
    _api.SetCoolingMode(false, Track<WriteResponseStatus>(outcomes[8]), nullptr);
    ASSERT_TRUE(RunUntilCalled(outcomes[8]));
    _api.SetCredentials(boost::none);
    _api.SetCoolingMode(false, Track<WriteResponseStatus>(outcomes[9]), nullptr);
    ASSERT_TRUE(RunUntilCalled(outcomes[9]));

    const Info info{std::string("2.4.1"), std::string("0123456789"), std::string("Brisgo")};
    for (int index = 0; index < 10; ++index) {
        SCOPED_TRACE(cases[index].wire);
        EXPECT_EQ(outcomes[index]->order, index + 1);
        EXPECT_EQ(outcomes[index]->error, error_code()) << outcomes[index]->error.message();
        EXPECT_EQ(outcomes[index]->value, index == 0   ? ::testing::PrintToString(info)
                                          : index == 1 ? s_example
                                                       : cases[index].expected);
        const auto& request = _station->requests.at(index);
        EXPECT_EQ(request.Line(), cases[index].wire);
        EXPECT_EQ(request.Field("content-type"), index > 1 ? "application/json" : "<absent>");
        EXPECT_EQ(request.Field("content-length"), index > 1 ? std::to_string(request.message.body().size()) : "<absent>");
        EXPECT_EQ(request.Field("host"), "127.0.0.1:" + std::to_string(_station->Endpoint().port()));
        EXPECT_EQ(request.Field("user-agent"), "keldra-knx/1");
        EXPECT_EQ(request.Field("accept"), "application/json");
        EXPECT_EQ(request.Field("connection"), "keep-alive");
        EXPECT_EQ(request.Field("authorization"), index < 8    ? "Basic dXNlcjpzZWNyZXQ="  // user:secret
                                                  : index == 8 ? "Basic aW5zdGFsbGVyOnA6c3PDpA=="
                                                               : "<absent>");
    }
    EXPECT_FALSE(_station->pipelined);
    EXPECT_EQ(_api.HandshakeCount(), 1u);
    EXPECT_EQ(_station->accepted, 1u);
}

// The first key presented is trusted; a station showing another one gets no
// request at all, on a new connection or on one kept alive, until the
// other key is trusted.
TEST_F(KeldraWebApiClient, RequestsAreWrittenOnlyToTheTrustedKey)
{
    ExpectAWorkingPoll(_api);
    ASSERT_TRUE(_api.GetPresentedStationKey());
    const std::string key = *_api.GetPresentedStationKey();
    EXPECT_TRUE(std::regex_match(key, std::regex("([0-9a-f]{2}:){31}[0-9a-f]{2}"))) << key;
    auto pinned = KeldraWebApi::Create(_ioService, BaseStationWebParameters(_station->Endpoint(), boost::none, key));
    auto other = KeldraWebApi::Create(_ioService, BaseStationWebParameters(_station->Endpoint(), boost::none,
                                                                           std::string("00:11")));
    ASSERT_TRUE(pinned.HasValue() && other.HasValue());
    const error_code mismatch = make_error_code(BaseStationRequestError::StationKeyMismatch);
    const struct {
        KeldraWebApi& api;
        const char* trust;  // before the poll, unless null
        error_code expected;
    } cases[] = {
        {pinned.GetValue(), nullptr, {}},
        {other.GetValue(), nullptr, mismatch},
        {other.GetValue(), key.c_str(), {}},
        {_api, "00:11", mismatch},  // on the connection kept alive
        {_api, key.c_str(), {}},
    };
    for (const auto& step : cases) {
        if (step.trust != nullptr) {
            step.api.TrustStationKey(step.trust);
        }
        const auto requests = _station->requests.size();
        const auto outcome = Poll(step.api);
        EXPECT_EQ(outcome->error, step.expected) << outcome->error.message();
        EXPECT_EQ(requests + (step.expected ? 0 : 1), _station->requests.size());
        EXPECT_EQ(boost::optional<std::string>(key), step.api.GetPresentedStationKey());
    }
    EXPECT_EQ(_api.HandshakeCount(), 2u);
}

// A temperature that is not finite; an arrival whose two-digit year would
// be taken for another century.
TEST_F(KeldraWebApiClient, ValuesThatCannotBeSentFailWithoutTraffic)
{
    std::shared_ptr<Outcome> outcomes[3];
    _api.SetSetpointTemperature(Room::Constant<1u>(), std::numeric_limits<double>::quiet_NaN(),
                                Track<WriteResponseStatus>(outcomes[0]), nullptr);
    _api.SetSetpointTemperature(Room::Constant<1u>(), -std::numeric_limits<double>::infinity(),
                                Track<WriteResponseStatus>(outcomes[1]), nullptr);
    _api.SetLeavingHome(true, boost::posix_time::ptime(boost::gregorian::date(2100, 1, 1)),
                        Track<WriteResponseStatus>(outcomes[2]), nullptr);
    EXPECT_EQ(outcomes[0]->calls, 0) << "called from inside the request";
    for (const auto& outcome : outcomes) {
        ASSERT_TRUE(RunUntilCalled(outcome));
        EXPECT_EQ(outcome->error, BaseStationRequestError::InvalidRequestValue);
    }
    EXPECT_EQ(_station->accepted, 0u);
}

// Each failure ends the request alone: the next one works, on the same
// connection when the answer was read in full. Hostile answers are cut off
// long before the timeout, with bounded memory.
TEST_F(KeldraWebApiClient, EachFailureEndsItsRequestAloneAndTheNextWorks)
{
    const auto timeouts = KeldraWebApi::Timeouts{250ms};
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    std::string largestBody = StatusExampleJson();
    largestBody.resize(64 * 1024, ' ');
    const error_code timedOut = boost::asio::error::timed_out;
    const struct {
        const char* what;
        Reply reply;
        error_code expected;
        Clock::duration timeout;  // zero: not a timeout
        bool keepsConnection = false;
        Greeting greeting = Greeting::Handshake;
    } cases[] = {
        {"credentials refused", TestHttpsStation::Json(StatusExampleJson(), 401),
         BaseStationRequestError::CredentialsRefused, 0s, true},
        {"status 201", TestHttpsStation::Json(StatusExampleJson(), 201), s_badMessage, 0s, true},
        // What else the decoder refuses: KeldraJsonCodecTest.
        {"not JSON", TestHttpsStation::Json("not json"), s_unusable, 0s, true},
        {"body of 64 KiB", TestHttpsStation::Json(largestBody), error_code(), 0s, true},
        {"body past the limit of 64 KiB", TestHttpsStation::Json(largestBody + " "), s_badMessage, 0s},
        // Refused on its header, not read until the timeout.
        {"1 GB body announced", {Action::Respond, "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n{\"status\": "},
         s_badMessage, 0s},
        {"no answer", {Action::Hold}, timedOut, timeouts.request},
        {"chunks trickling in",
         {Action::Stream, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\n \r\n", 20ms}, timedOut,
         timeouts.request},
        {"closed during the TLS handshake", {}, boost::asio::ssl::error::stream_truncated, 0s, false,
         Greeting::CloseMidHandshake},
        {"TLS stream cut off in the answer",
         {Action::Close, "HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\n{\"responseCode\": 0,"},
         boost::asio::ssl::error::stream_truncated, 0s},
        {"reset after the request", {Action::Reset}, boost::asio::error::connection_reset, 0s},
        {"endless chunked body",
         {Action::Stream, ok + "Transfer-Encoding: chunked\r\n\r\n", "1000\r\n" + std::string(4096, ' ') + "\r\n"},
         s_badMessage, 0s},
        {"endless header", {Action::Stream, ok, "X-Filler: " + std::string(100, 'a') + "\r\n"}, s_badMessage, 0s},
    };
    const auto peakKilobytes = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        const bool hostile = entry.reply.action == Action::Stream && entry.expected == s_badMessage;
        auto api = CreateApi(entry.timeout == 0s ? KeldraWebApi::DefaultTimeouts() : timeouts);
        _station->greeting = entry.greeting;
        _station->AnswerEveryRequestWith(entry.reply);
        _station->streamEnded = false;
        const auto streamedBefore = _station->streamedBytes;
        const auto peakBefore = peakKilobytes();
        const auto start = Clock::now();
        EXPECT_EQ(Poll(api)->error, entry.expected);
        EXPECT_GE(Clock::now() - start, entry.timeout);
        EXPECT_LT(Clock::now() - start, entry.timeout == 0s ? KeldraWebApi::DefaultTimeouts().request : entry.timeout + 2s);
        if (hostile) {
            // The client dropped the connection rather than reading on.
            ASSERT_TRUE(RunUntil([this] { return _station->streamEnded; }));
            EXPECT_LT(_station->streamedBytes - streamedBefore, 32u * 1024 * 1024);
            EXPECT_LT(peakKilobytes() - peakBefore, 32 * 1024);
        }
        _station->greeting = Greeting::Handshake;
        _station->AnswerEveryRequestWith(TestHttpsStation::Json(StatusExampleJson()));
        ExpectAWorkingPoll(api);
        const bool handshook = entry.greeting == Greeting::Handshake;
        EXPECT_EQ(api.HandshakeCount(), entry.keepsConnection || !handshook ? 1u : 2u);
    }

    boost::asio::ip::tcp::acceptor closed(_ioService, {boost::asio::ip::address_v4::loopback(), 0});
    auto refused = CreateApi(timeouts, closed.local_endpoint());
    closed.close();
    EXPECT_EQ(Poll(refused)->error, boost::asio::error::connection_refused);

    // Failures no test station can provoke.
    EXPECT_EQ(StationTransportError(boost::asio::error::eof), boost::asio::error::connection_reset);
    EXPECT_EQ(StationTransportError(boost::asio::error::broken_pipe), boost::asio::error::connection_reset);
    EXPECT_EQ(StationTransportError(boost::asio::error::host_unreachable), boost::asio::error::host_unreachable);
    EXPECT_EQ(StationTransportError(boost::beast::http::error::partial_message), s_badMessage);
}

// A station whose kernel accepts the connection and never shakes hands:
// each request ends within the timeout of being made, queued ones too.
TEST_F(KeldraWebApiClient, StalledStationEndsEveryRequestWithinItsTimeout)
{
    _station->greeting = Greeting::Silence;
    auto api = CreateApi(KeldraWebApi::Timeouts{1s});
    std::shared_ptr<Outcome> outcomes[3];
    const auto start = Clock::now();
    api.GetStatus(Track<Status>(outcomes[0]), _token);
    api.SetCoolingMode(true, Track<WriteResponseStatus>(outcomes[1]), nullptr);
    api.GetShortInfo(Track<Info>(outcomes[2]), nullptr);
    for (const auto& outcome : outcomes) {
        ASSERT_TRUE(RunUntilCalled(outcome));
        EXPECT_EQ(outcome->error, boost::asio::error::timed_out);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_TRUE(elapsed >= 1000 && elapsed < 1800) << elapsed << " ms";
    }
}

// A cancelled request ends alone: one still queued leaves the queue; for the
// one in flight, whose answer the station has begun, the connection goes, so
// that the rest of that answer is never taken for the next request's answer.
TEST_F(KeldraWebApiClient, CancellingARequestLeavesTheOthers)
{
    _station->script = [this](const TestHttpsStation::Request&) {
        return _station->requests.size() == 1
                   ? Reply{Action::Hold, "HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\n{\"responseCode\": 511,"}
                   : TestHttpsStation::Json(R"({"status": 0})");
    };
    CancellationToken queuedToken;
    std::shared_ptr<Outcome> inFlight, queued, write;
    _api.GetStatus(Track<Status>(inFlight), _token);
    _api.GetStatus(Track<Status>(queued), queuedToken);
    _api.SetCoolingMode(true, Track<WriteResponseStatus>(write), nullptr);
    queuedToken.Cancel();
    EXPECT_EQ(queued->calls, 0) << "called from inside the abort action";
    ASSERT_TRUE(RunUntil([this] { return _station->streamedBytes > 0; }));
    _token.Cancel();
    EXPECT_EQ(inFlight->calls, 0) << "called from inside the abort action";
    ASSERT_TRUE(RunUntilCalled(write));
    EXPECT_EQ(queued->error, CancellationToken::CancelledError());
    EXPECT_EQ(inFlight->error, CancellationToken::CancelledError());
    EXPECT_EQ(write->value, "Accepted");
    ASSERT_EQ(_station->requests.size(), 2u);
    EXPECT_EQ(_station->requests[1].message.target(), "/api/v1/settings");
    EXPECT_EQ(_station->accepted, 2u);
}

// A connection that cannot carry the next answer is replaced: the station
// closed it while idle, or said "Connection: close", or sent bytes after the
// answer, which are never taken for the next answer.
TEST_F(KeldraWebApiClient, AConnectionThatCannotCarryTheNextAnswerIsReplaced)
{
    const Reply example = TestHttpsStation::Json(StatusExampleJson());
    ExpectAWorkingPoll(_api);
    _station->CloseIdleConnections();
    ExpectAWorkingPoll(_api);
    _station->AnswerEveryRequestWith(TestHttpsStation::Json(StatusExampleJson(), 200, true));
    ExpectAWorkingPoll(_api);
    std::string unsolicited = StatusExampleJson();
    unsolicited.replace(unsolicited.find("\"responseCode\": 0"), 17, "\"responseCode\": 511");
    _station->AnswerEveryRequestWith({Action::Hold, example.raw + TestHttpsStation::Json(unsolicited).raw});
    ExpectAWorkingPoll(_api);
    _station->AnswerEveryRequestWith(example);
    ExpectAWorkingPoll(_api);
    EXPECT_EQ(_station->requests.size(), 5u);
    EXPECT_EQ(_station->accepted, 4u);
    EXPECT_EQ(_api.HandshakeCount(), 4u);
}

TEST_F(KeldraWebApiClient, RequestsOutliveTheHandle)
{
    std::shared_ptr<Outcome> outcome;
    {
        auto api = CreateApi(KeldraWebApi::DefaultTimeouts());
        api.GetStatus(Track<Status>(outcome), _token);
        auto moved = std::move(api);
    }
    ASSERT_TRUE(RunUntilCalled(outcome));
    EXPECT_EQ(outcome->value, s_example);
}

}  // namespace

// A station's handler holds the web API object until the answer. Requests
// still open when the event loop is destroyed go with it, with everything
// their handlers hold, instead of keeping each other alive.
TEST(KeldraWebApiClientShutdown, OpenRequestsGoWithTheEventLoop)
{
    CancellationToken token;
    std::weak_ptr<int> heldByHandlers;
    {
        auto ioService = std::make_unique<boost::asio::io_service>();
        auto station = TestHttpsStation::Start(*ioService);
        station->AnswerEveryRequestWith({Action::Hold});
        auto created = KeldraWebApi::Create(*ioService, BaseStationWebParameters(station->Endpoint(), Credentials{}));
        ASSERT_TRUE(created.HasValue());
        auto api = std::make_shared<KeldraWebApi>(std::move(created.GetValue()));
        const auto held = std::make_shared<int>(0);
        heldByHandlers = held;
        api->GetStatus([api, held](Oru::SystemResult<Status>) { ADD_FAILURE() << "answered"; }, token);
        api->GetShortInfo([api, held](Oru::SystemResult<Info>) { ADD_FAILURE() << "answered"; }, nullptr);
        for (int turn = 0; turn < 500 && station->requests.empty(); ++turn) {
            ioService->run_one_for(10ms);
        }
        ASSERT_EQ(station->requests.size(), 1u) << "the status request is in flight, the other queued";
        api.reset();
        station->Stop();
        station.reset();
        ioService.reset();
    }
    EXPECT_TRUE(heldByHandlers.expired());
}
