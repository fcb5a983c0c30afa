#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <boost/asio/error.hpp>

#include "support/SystemResult.h"

namespace {

TEST(SystemResult, HoldsAValue)
{
    const Oru::SystemResult<bool> falseResult(false);
    EXPECT_TRUE(falseResult.HasValue());
    EXPECT_FALSE(falseResult.HasError());
    EXPECT_FALSE(falseResult.GetValue());
    EXPECT_FALSE(falseResult.GetError());

    const Oru::SystemResult<std::shared_ptr<int>> pointer(std::make_shared<int>(5));
    ASSERT_TRUE(pointer.HasValue());
    EXPECT_EQ(5, *pointer.GetValue());

    Oru::SystemResult<std::string> text(std::string("status"));
    text.GetValue() += " ok";
    EXPECT_EQ("status ok", text.GetValue());
}

TEST(SystemResult, HoldsAnError)
{
    const boost::system::error_code errors[] = {
        boost::asio::error::operation_aborted,
        boost::asio::error::connection_refused,
        boost::asio::error::eof,
        boost::system::errc::make_error_code(boost::system::errc::timed_out),
    };
    for (const auto& error : errors) {
        const Oru::SystemResult<bool> result(error);
        EXPECT_FALSE(result.HasValue()) << error;
        EXPECT_TRUE(result.HasError()) << error;
        EXPECT_EQ(error, result.GetError());
    }
    // An error result of a bool is not mistaken for a bool value.
    const Oru::SystemResult<bool> converted = boost::system::error_code(boost::asio::error::timed_out);
    EXPECT_TRUE(converted.HasError());
}

}  // namespace
