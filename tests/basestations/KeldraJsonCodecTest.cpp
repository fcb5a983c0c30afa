#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include <boost/optional/optional_io.hpp>
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "StatusExample.h"
#include "basestations/BaseStationRequestError.h"
#include "platform/webapi/KeldraJsonCodec.h"

using namespace Keldra;
using Keldra::Testing::StatusExampleJson;
using Keldra::Testing::StatusExampleObject;

namespace {

const boost::system::error_code s_unusable = make_error_code(BaseStationRequestError::UnusableMessage);

// The example status with the member at pointer replaced by the JSON text
// replacement, or removed when replacement is null.
std::string MutatedStatus(const char* pointer, const char* replacement)
{
    rapidjson::Document document;
    document.Parse(StatusExampleJson().c_str());
    if (replacement == nullptr) {
        rapidjson::Pointer(pointer).Erase(document);
    } else {
        rapidjson::Document value(&document.GetAllocator());
        value.Parse(replacement);
        rapidjson::Pointer(pointer).Set(document, static_cast<rapidjson::Value&>(value));
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    return buffer.GetString();
}

TEST(KeldraJsonCodec, DecodesTheProtocolsStatusExample)
{
    const auto status = KeldraJsonCodec::DecodeStatus(StatusExampleJson());
    ASSERT_TRUE(status.HasValue()) << status.GetError().message();
    EXPECT_EQ(status.GetValue(), StatusExampleObject());
}

struct StatusMutation {
    const char* pointer;
    const char* replacement;  // null: the member is removed
};

std::ostream& operator<<(std::ostream& stream, const StatusMutation& mutation)
{
    return stream << mutation.pointer << " = " << (mutation.replacement ? mutation.replacement : "<removed>");
}

class UnusableStatus : public ::testing::TestWithParam<StatusMutation> {};

TEST_P(UnusableStatus, IsRejectedAsAWhole)
{
    const auto json = MutatedStatus(GetParam().pointer, GetParam().replacement);
    ASSERT_NE(json, MutatedStatus("/responseCode", "0")) << "the mutation changed nothing";
    const auto status = KeldraJsonCodec::DecodeStatus(json);
    ASSERT_TRUE(status.HasError()) << json;
    EXPECT_EQ(status.GetError(), s_unusable);
}

INSTANTIATE_TEST_SUITE_P(
    WrongTypeMissingOrOutOfRange, UnusableStatus,
    ::testing::Values(StatusMutation{"/responseCode", nullptr}, StatusMutation{"/responseCode", "\"0\""},
                      StatusMutation{"/responseCode", "1.5"}, StatusMutation{"/responseCode", "2147483648"},
                      StatusMutation{"/responseCode", "null"}, StatusMutation{"/system", nullptr},
                      StatusMutation{"/system", "[]"}, StatusMutation{"/system/date", nullptr},
                      StatusMutation{"/system/date", "240517"}, StatusMutation{"/system/time", nullptr},
                      StatusMutation{"/system/cooling", nullptr}, StatusMutation{"/system/cooling", "\"false\""},
                      StatusMutation{"/system/cooling", "0"}, StatusMutation{"/system/serialNumber", "42"},
                      StatusMutation{"/system/stationName", "null"}, StatusMutation{"/system/code", "[]"},
                      StatusMutation{"/rooms", nullptr}, StatusMutation{"/rooms", "{}"},
                      StatusMutation{"/rooms/0", "1"}, StatusMutation{"/rooms/0/room", nullptr},
                      StatusMutation{"/rooms/0/room", "-1"}, StatusMutation{"/rooms/0/room", "4294967296"},
                      StatusMutation{"/rooms/0/room", "1.0"}, StatusMutation{"/rooms/0/actors", nullptr},
                      StatusMutation{"/rooms/0/actors", "{}"}, StatusMutation{"/rooms/0/actors/0", "3"},
                      StatusMutation{"/rooms/0/actors/0/number", nullptr},
                      StatusMutation{"/rooms/0/actors/0/number", "\"3\""},
                      StatusMutation{"/rooms/0/actors/0/number", "2147483648"},
                      StatusMutation{"/rooms/0/actors/0/valveOpen", "1"},
                      StatusMutation{"/rooms/0/thermostat", "null"}, StatusMutation{"/rooms/0/thermostat", "[]"},
                      StatusMutation{"/rooms/0/thermostat/id", nullptr},
                      StatusMutation{"/rooms/0/thermostat/id", "12345678"},
                      StatusMutation{"/rooms/0/thermostat/setpointTemperature", nullptr},
                      StatusMutation{"/rooms/0/thermostat/setpointTemperature", "\"21.5\""},
                      StatusMutation{"/rooms/0/thermostat/minimumTemperature", "true"},
                      StatusMutation{"/rooms/0/thermostat/maximumTemperature", "null"},
                      StatusMutation{"/rooms/0/thermostat/roomTemperature", "\"20.8\""},
                      StatusMutation{"/rooms/0/thermostat/relativeHumidity", "{}"},
                      StatusMutation{"/rooms/0/thermostat/batteryLow", "\"no\""},
                      StatusMutation{"/rooms/1/powerLevel", "5"}, StatusMutation{"/rooms/1/powerLevel/level", nullptr},
                      StatusMutation{"/rooms/1/powerLevel/level", "256"},
                      StatusMutation{"/rooms/1/powerLevel/level", "-1"},
                      StatusMutation{"/rooms/1/powerLevel/level", "5.0"},
                      StatusMutation{"/rooms/1/powerLevel/percent", "300"},
                      StatusMutation{"/rooms/1/powerLevel/minimumLevel", "-1"},
                      StatusMutation{"/rooms/1/powerLevel/maximumLevel", "\"10\""},
                      StatusMutation{"/errors", nullptr}, StatusMutation{"/errors", "null"},
                      StatusMutation{"/errors/0", "\"thermostat missing\""}, StatusMutation{"/errors/0/code", nullptr},
                      StatusMutation{"/errors/0/code", "-3.5"}, StatusMutation{"/errors/0/code", "-2147483649"},
                      StatusMutation{"/errors/0/room", "-2"}, StatusMutation{"/errors/0/description", "3"},
                      StatusMutation{"/leavingHome", nullptr}, StatusMutation{"/leavingHome", "false"},
                      StatusMutation{"/leavingHome/active", nullptr},
                      StatusMutation{"/leavingHome/active", "\"false\""},
                      StatusMutation{"/leavingHome/date", "20240520"}, StatusMutation{"/leavingHome/time", "null"}));

TEST(KeldraJsonCodec, RejectsBodiesThatAreNotOneJsonObject)
{
    std::string example = StatusExampleJson();
    std::string invalidUtf8 = example;
    invalidUtf8.replace(invalidUtf8.find("BS-0042"), 7, "BS-\xff\xfe");
    const std::string bodies[] = {
        "",
        "   ",
        "not json",
        "[]",
        "\"text\"",
        "null",
        "42",
        example + " {}",
        example + std::string(1, '\0'),
        example.substr(0, example.size() / 2),
        invalidUtf8,
        std::string(100000, '['),
        MutatedStatus("/responseCode", "0").replace(16, 1, "1e400"),
    };
    for (const auto& body : bodies) {
        const auto status = KeldraJsonCodec::DecodeStatus(body);
        ASSERT_TRUE(status.HasError()) << body.substr(0, 80);
        EXPECT_EQ(status.GetError(), s_unusable) << body.substr(0, 80);
    }
}

TEST(KeldraJsonCodec, AcceptsWhatTheProtocolAllows)
{
    struct Case {
        std::string json;
        std::function<void(KeldraJson::StatusObject&)> expectedChange;
    };
    // Built as text: the helpers above would recurse through it.
    const std::string deep =
        "{\"deep\":" + std::string(20000, '[') + std::string(20000, ']') + "," + StatusExampleJson().substr(1);
    const Case cases[] = {
        {MutatedStatus("/unknown", "{\"a\":[1,2]}"), [](KeldraJson::StatusObject&) {}},
        {MutatedStatus("/rooms/0/extra", "\"x\""), [](KeldraJson::StatusObject&) {}},
        {deep, [](KeldraJson::StatusObject&) {}},
        {MutatedStatus("/system/serialNumber", nullptr),
         [](KeldraJson::StatusObject& status) { status.system.serialNumber = boost::none; }},
        {MutatedStatus("/rooms/0/thermostat/setpointTemperature", "21"),
         [](KeldraJson::StatusObject& status) { status.rooms[0].thermostat->setpointTemperature = 21.0; }},
        {MutatedStatus("/rooms/0/room", "0"), [](KeldraJson::StatusObject& status) { status.rooms[0].roomNumber = 0; }},
        {MutatedStatus("/rooms/1/powerLevel/level", "255"),
         [](KeldraJson::StatusObject& status) { status.rooms[1].powerLevelControl->powerLevel = 255; }},
        {MutatedStatus("/responseCode", "-2147483648"),
         [](KeldraJson::StatusObject& status) { status.responseCode = std::numeric_limits<int>::min(); }},
        {MutatedStatus("/errors", "[]"), [](KeldraJson::StatusObject& status) { status.errors.clear(); }},
        {MutatedStatus("/leavingHome", "{\"active\":true}"),
         [](KeldraJson::StatusObject& status) {
             status.leavingHome.active = true;
             status.leavingHome.date = boost::none;
             status.leavingHome.time = boost::none;
         }},
    };
    for (const auto& entry : cases) {
        auto expected = StatusExampleObject();
        entry.expectedChange(expected);
        const auto status = KeldraJsonCodec::DecodeStatus(entry.json);
        ASSERT_TRUE(status.HasValue()) << entry.json.substr(0, 200);
        EXPECT_EQ(status.GetValue(), expected) << entry.json.substr(0, 200);
    }
}

TEST(KeldraJsonCodec, EncodedStatusDecodesToTheSameMessage)
{
    const auto status = KeldraJsonCodec::DecodeStatus(KeldraJsonCodec::EncodeStatus(StatusExampleObject()));
    ASSERT_TRUE(status.HasValue());
    EXPECT_EQ(status.GetValue(), StatusExampleObject());

    auto broken = StatusExampleObject();
    broken.rooms[0].thermostat->roomTemperature = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(KeldraJsonCodec::DecodeStatus(KeldraJsonCodec::EncodeStatus(broken)).GetError(), s_unusable);
}

TEST(KeldraJsonCodec, ShortInfo)
{
    const auto info = KeldraJsonCodec::DecodeShortInfo(
        R"({"stationId": "0123456789", "model": "Brisgo", "vendor": "Keldra", "firmwareVersion": "2.4.1"})");
    ASSERT_TRUE(info.HasValue());
    EXPECT_EQ(info.GetValue().stationId, std::string("0123456789"));
    EXPECT_EQ(info.GetValue().model, std::string("Brisgo"));
    EXPECT_EQ(info.GetValue().firmwareVersion, std::string("2.4.1"));

    const auto empty = KeldraJsonCodec::DecodeShortInfo("{}");
    ASSERT_TRUE(empty.HasValue());
    EXPECT_EQ(empty.GetValue(), KeldraJson::BaseStationShortInfoMessage());

    for (const char* unusable : {R"({"firmwareVersion": 140})", R"({"vendor": 1})", R"({"stationId": null})", "[]"}) {
        EXPECT_EQ(KeldraJsonCodec::DecodeShortInfo(unusable).GetError(), s_unusable) << unusable;
    }

    const auto encoded = KeldraJsonCodec::DecodeShortInfo(KeldraJsonCodec::EncodeShortInfo(info.GetValue()));
    ASSERT_TRUE(encoded.HasValue());
    EXPECT_EQ(encoded.GetValue(), info.GetValue());
}

TEST(KeldraJsonCodec, WriteResponse)
{
    const struct {
        const char* json;
        int status;
    } usable[] = {{R"({"status": 0})", 0}, {R"({"status": 1})", 1},    {R"({"status": 2})", 2},
                  {R"({"status": 7})", 7}, {R"({"status": -5, "x": 1})", -5}};
    for (const auto& entry : usable) {
        const auto status = KeldraJsonCodec::DecodeWriteResponse(entry.json);
        ASSERT_TRUE(status.HasValue()) << entry.json;
        EXPECT_EQ(static_cast<int>(status.GetValue()), entry.status) << entry.json;
        EXPECT_EQ(KeldraJsonCodec::DecodeWriteResponse(KeldraJsonCodec::EncodeWriteResponse(status.GetValue()))
                      .GetValue(),
                  status.GetValue());
    }
    for (const char* unusable : {"{}", R"({"status": "0"})", R"({"status": 0.0})", R"({"status": true})",
                                 R"({"status": 2147483648})", "[0]", ""}) {
        EXPECT_EQ(KeldraJsonCodec::DecodeWriteResponse(unusable).GetError(), s_unusable) << unusable;
    }
}

TEST(KeldraJsonCodec, WriteRequests)
{
    EXPECT_EQ(KeldraJsonCodec::EncodeSetpointRequest(21.5), std::string(R"({"setpointTemperature":21.5})"));
    EXPECT_EQ(KeldraJsonCodec::DecodeSetpointRequest(*KeldraJsonCodec::EncodeSetpointRequest(-3.25)).GetValue(), -3.25);
    EXPECT_FALSE(KeldraJsonCodec::EncodeSetpointRequest(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(KeldraJsonCodec::EncodeSetpointRequest(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(KeldraJsonCodec::EncodeSetpointRequest(-std::numeric_limits<double>::infinity()));

    KeldraJson::PowerLevelControlObject powerLevel;
    powerLevel.powerLevel = 7;
    powerLevel.percentage = 178;
    powerLevel.minimumLevel = 0;
    powerLevel.maximumLevel = 10;
    EXPECT_EQ(KeldraJsonCodec::EncodePowerLevelRequest(powerLevel),
              R"({"level":7,"minimumLevel":0,"maximumLevel":10})");
    auto withoutPercentage = powerLevel;
    withoutPercentage.percentage = boost::none;
    EXPECT_EQ(KeldraJsonCodec::DecodePowerLevelRequest(KeldraJsonCodec::EncodePowerLevelRequest(powerLevel)).GetValue(),
              withoutPercentage);

    KeldraJson::LeavingHomeObject leavingHome{true, std::string("24-05-20"), std::string("18:30")};
    EXPECT_EQ(KeldraJsonCodec::EncodeLeavingHomeRequest(leavingHome),
              R"({"active":true,"date":"24-05-20","time":"18:30"})");
    EXPECT_EQ(KeldraJsonCodec::EncodeLeavingHomeRequest(KeldraJson::LeavingHomeObject{}), R"({"active":false})");
    EXPECT_EQ(
        KeldraJsonCodec::DecodeLeavingHomeRequest(KeldraJsonCodec::EncodeLeavingHomeRequest(leavingHome)).GetValue(),
        leavingHome);

    KeldraJson::SettingsObject settings{true, boost::none};
    EXPECT_EQ(KeldraJsonCodec::EncodeSettingsRequest(settings), R"({"cooling":true})");
    settings.automaticChangeover = false;
    EXPECT_EQ(KeldraJsonCodec::DecodeSettingsRequest(KeldraJsonCodec::EncodeSettingsRequest(settings)).GetValue(),
              settings);

    EXPECT_EQ(KeldraJsonCodec::DecodeSetpointRequest(R"({"setpointTemperature":"21"})").GetError(), s_unusable);
    EXPECT_EQ(KeldraJsonCodec::DecodePowerLevelRequest(R"({"level":256})").GetError(), s_unusable);
    EXPECT_EQ(KeldraJsonCodec::DecodeLeavingHomeRequest(R"({"date":"24-05-20"})").GetError(), s_unusable);
    EXPECT_EQ(KeldraJsonCodec::DecodeSettingsRequest(R"({"cooling":1})").GetError(), s_unusable);
}

}  // namespace
