#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>

#include "basestations/BaseStationRequestError.h"
#include "basestations/CancellationToken.h"
#include "basestations/WriteResponseStatus.h"

using namespace Keldra;

namespace {

TEST(BaseStationRequestError, CodesCarryTheirNumbersAndMessages)
{
    struct Case {
        BaseStationRequestError error;
        int value;
        std::string message;
    };
    const std::vector<Case> cases = {
        {BaseStationRequestError::UnexpectedHttpStatus, 1, "The base station answered with an unexpected HTTP status"},
        {BaseStationRequestError::CredentialsRefused, 2, "The base station refused the credentials"},
        {BaseStationRequestError::Timeout, 3, "The base station did not answer in time"},
        {BaseStationRequestError::ResponseTooLarge, 4, "The answer of the base station is too large"},
        {BaseStationRequestError::InvalidRequestValue, 5, "A value of the request cannot be sent to the base station"},
        {BaseStationRequestError::FirmwareVersionUnknown, 9,
         "The firmware version of the base station cannot be determined"},
        {BaseStationRequestError::UnusableMessage, 10, "The answer of the base station is not a usable message"},
    };
    for (const auto& testCase : cases) {
        const boost::system::error_code code = make_error_code(testCase.error);
        EXPECT_EQ(code.value(), testCase.value);
        EXPECT_STREQ(code.category().name(), "keldrawebapi");
        EXPECT_EQ(code.message(), testCase.message);
        EXPECT_TRUE(code);
    }
}

TEST(BaseStationRequestError, UnknownValuesHaveAMessage)
{
    for (const int value : {0, 6, 8, 11, -1, 1000}) {
        EXPECT_EQ(BaseStationRequestErrorCategory().message(value),
                  "Unknown base station request error " + std::to_string(value));
    }
}

TEST(BaseStationRequestError, ComparesEqualOnlyToItsOwnCode)
{
    const boost::system::error_code credentials = BaseStationRequestError::CredentialsRefused;  // implicit: an error code enum
    EXPECT_EQ(credentials, make_error_code(BaseStationRequestError::CredentialsRefused));
    EXPECT_EQ(credentials, BaseStationRequestError::CredentialsRefused);
    EXPECT_NE(credentials, make_error_code(BaseStationRequestError::UnusableMessage));
    EXPECT_NE(credentials, boost::system::error_code(2, boost::system::system_category()));
    EXPECT_NE(credentials, boost::system::error_code(2, boost::system::generic_category()));

    const boost::system::error_code unusable(10, BaseStationRequestErrorCategory());
    EXPECT_EQ(unusable, make_error_code(BaseStationRequestError::UnusableMessage));
    EXPECT_NE(make_error_code(BaseStationRequestError::UnusableMessage),
              boost::system::errc::make_error_code(boost::system::errc::bad_message));
}

// A cancelled request must be told apart from a transport that Boost.Asio
// aborted (system category, same number).
TEST(CancelledError, IsTheGenericOperationCanceled)
{
    const auto cancelled = CancellationToken::CancelledError();
    EXPECT_EQ(cancelled.value(), 125);
    EXPECT_EQ(cancelled.category(), boost::system::generic_category());
    EXPECT_EQ(cancelled, boost::system::errc::make_error_code(boost::system::errc::operation_canceled));
    EXPECT_NE(cancelled, boost::system::error_code(boost::asio::error::operation_aborted));
}

TEST(WriteResponseStatus, NamedValuesAndAnyOtherNumber)
{
    struct Case {
        WriteResponseStatus status;
        int value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {WriteResponseStatus::Accepted, 0, "Accepted"},
        {WriteResponseStatus::OutOfRange, 1, "OutOfRange"},
        {WriteResponseStatus::InvalidCookie, 2, "InvalidCookie"},
        {static_cast<WriteResponseStatus>(3), 3, "WriteResponseStatus(3)"},
        {static_cast<WriteResponseStatus>(-7), -7, "WriteResponseStatus(-7)"},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(static_cast<int>(testCase.status), testCase.value);
        std::ostringstream text;
        text << testCase.status;
        EXPECT_EQ(text.str(), testCase.text);
    }
}

}  // namespace
