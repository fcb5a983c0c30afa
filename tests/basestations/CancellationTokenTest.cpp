#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "basestations/CancellationToken.h"
#include "support/SystemResult.h"

using namespace Keldra;

namespace {

TEST(CancellationToken, CancelRunsEveryRegisteredActionOnceInOrder)
{
    CancellationToken token;
    std::vector<std::string> aborted;
    auto first = token.OnCancel([&] { aborted.push_back("first"); });
    auto second = token.OnCancel([&] { aborted.push_back("second"); });
    EXPECT_EQ(token.InFlightCount(), 2u);

    token.Cancel();
    EXPECT_EQ(aborted, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(token.InFlightCount(), 0u);

    token.Cancel();
    EXPECT_EQ(aborted.size(), 2u);
}

TEST(CancellationToken, ACompletedRequestIsNotAborted)
{
    CancellationToken token;
    int abortCount = 0;
    {
        auto completed = token.OnCancel([&] { ++abortCount; });
    }
    auto reset = token.OnCancel([&] { ++abortCount; });
    reset.Reset();
    EXPECT_EQ(token.InFlightCount(), 0u);
    token.Cancel();
    EXPECT_EQ(abortCount, 0);
}

TEST(CancellationToken, IsReusedAfterCancel)
{
    CancellationToken token;
    int firstAborts = 0;
    int secondAborts = 0;
    auto first = token.OnCancel([&] { ++firstAborts; });
    token.Cancel();
    auto second = token.OnCancel([&] { ++secondAborts; });
    EXPECT_EQ(token.InFlightCount(), 1u);
    token.Cancel();
    EXPECT_EQ(firstAborts, 1);
    EXPECT_EQ(secondAborts, 1);
}

TEST(CancellationToken, ARequestStartedWhileCancellingRunsOn)
{
    CancellationToken token;
    int laterAborts = 0;
    CancellationToken::Registration later;
    auto first = token.OnCancel([&] { later = token.OnCancel([&] { ++laterAborts; }); });
    token.Cancel();
    EXPECT_EQ(laterAborts, 0);
    EXPECT_EQ(token.InFlightCount(), 1u);
}

TEST(CancellationToken, RegistrationsOutliveTheToken)
{
    CancellationToken::Registration registration;
    {
        CancellationToken token;
        registration = token.OnCancel([] {});
    }
    registration.Reset();
    SUCCEED();  // AddressSanitizer watches the deregistration
}

TEST(CancellationToken, MovingTakesTheRegistrationsAlong)
{
    CancellationToken original;
    int aborts = 0;
    auto registration = original.OnCancel([&] { ++aborts; });
    CancellationToken moved(std::move(original));
    original.Cancel();  // NOLINT(bugprone-use-after-move): a moved-from token is like a new one
    EXPECT_EQ(aborts, 0);
    EXPECT_EQ(moved.InFlightCount(), 1u);
    moved.Cancel();
    EXPECT_EQ(aborts, 1);
}

TEST(CancellationToken, MovedRegistrationWithdrawsOnce)
{
    CancellationToken token;
    auto registration = token.OnCancel([] {});
    CancellationToken::Registration moved(std::move(registration));
    registration.Reset();  // NOLINT(bugprone-use-after-move): a moved-from registration holds nothing
    EXPECT_EQ(token.InFlightCount(), 1u);
    moved = CancellationToken::Registration();
    EXPECT_EQ(token.InFlightCount(), 0u);
}

// A request in flight as a transport runs it: its abort action cancels the
// socket's pending operation, and the handler reports the cancellation.
class TimerRequest : public std::enable_shared_from_this<TimerRequest> {
public:
    TimerRequest(boost::asio::io_service& ioService, Oru::function<void(Oru::SystemResult<int>)> handler)
        : _timer(ioService), _handler(std::move(handler))
    {
    }

    void Start(CancellationToken& token)
    {
        auto self = shared_from_this();
        _registration = token.OnCancel([self] {
            self->_cancelled = true;
            self->_timer.cancel();
        });
        _timer.expires_after(std::chrono::hours(1));
        _timer.async_wait([self](const boost::system::error_code& error) { self->OnAnswer(error); });
    }

private:
    void OnAnswer(const boost::system::error_code& error)
    {
        _registration.Reset();
        if (_cancelled) {
            _handler(CancellationToken::CancelledError());
        } else if (error) {
            _handler(error);
        } else {
            _handler(42);
        }
    }

    boost::asio::steady_timer _timer;
    Oru::function<void(Oru::SystemResult<int>)> _handler;
    CancellationToken::Registration _registration;
    bool _cancelled = false;
};

TEST(CancellationToken, CancellingFromTheEventLoopCompletesTheRequestAsCancelled)
{
    boost::asio::io_service ioService;
    CancellationToken token;
    std::vector<boost::system::error_code> results;
    std::make_shared<TimerRequest>(ioService, [&](Oru::SystemResult<int> result) {
        results.push_back(result.GetError());
    })->Start(token);
    boost::asio::post(ioService, [&] { token.Cancel(); });

    ioService.run();

    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], boost::system::errc::make_error_code(boost::system::errc::operation_canceled));
    EXPECT_EQ(token.InFlightCount(), 0u);
}

}  // namespace
