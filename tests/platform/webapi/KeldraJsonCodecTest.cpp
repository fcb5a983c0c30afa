#include <functional>
#include <limits>

#include <boost/optional/optional_io.hpp>
#include <gtest/gtest.h>
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

TEST(KeldraJsonCodec, DecodesTheExampleAndWhatTheProtocolAllows)
{
    using Change = std::function<void(KeldraJson::StatusObject&)>;
    const Change none = [](KeldraJson::StatusObject&) {};
    // Built as text: MutatedStatus would recurse through it.
    const std::string deep =
        "{\"deep\":" + std::string(20000, '[') + std::string(20000, ']') + "," + StatusExampleJson().substr(1);
    const std::pair<std::string, Change> cases[] = {
        {StatusExampleJson(), none},
        {MutatedStatus("/rooms/0/extra", "\"x\""), none},
        {deep, none},
        {MutatedStatus("/system/serialNumber", nullptr), [](auto& s) { s.system.serialNumber = boost::none; }},
        {MutatedStatus("/rooms/0/thermostat/setpointTemperature", "21"),
         [](auto& s) { s.rooms[0].thermostat->setpointTemperature = 21.0; }},
        {MutatedStatus("/rooms/0/room", "0"), [](auto& s) { s.rooms[0].roomNumber = 0; }},
        {MutatedStatus("/rooms/1/powerLevel/level", "255"), [](auto& s) { s.rooms[1].powerLevelControl->powerLevel = 255; }},
        {MutatedStatus("/responseCode", "-2147483648"), [](auto& s) { s.responseCode = std::numeric_limits<int>::min(); }},
        {MutatedStatus("/errors", "[]"), [](auto& s) { s.errors.clear(); }},
        {MutatedStatus("/leavingHome", "{\"active\":true}"), [](auto& s) { s.leavingHome = {true, {}, {}}; }},
    };
    for (const auto& entry : cases) {
        auto expected = StatusExampleObject();
        entry.second(expected);
        const auto status = KeldraJsonCodec::DecodeStatus(entry.first);
        ASSERT_TRUE(status.HasValue()) << entry.first.substr(0, 200);
        EXPECT_EQ(status.GetValue(), expected) << entry.first.substr(0, 200);
    }
}

// Wrong type, missing or out of range: the whole status is unusable.
TEST(KeldraJsonCodec, RejectsAStatusWithAnyUnfitMember)
{
    // Each reader's refusals once; each member's presence and range.
    const std::pair<const char*, const char*> mutations[] = {  // null: the member is removed
        {"/responseCode", nullptr}, {"/responseCode", "\"0\""}, {"/responseCode", "1.5"}, {"/responseCode", "2147483648"},
        {"/system", nullptr}, {"/system", "[]"}, {"/system/date", nullptr}, {"/system/date", "240517"},
        {"/system/time", nullptr}, {"/system/cooling", nullptr}, {"/system/cooling", "0"},
        {"/system/serialNumber", "42"}, {"/rooms", nullptr}, {"/rooms", "{}"},
        // Lone surrogate escapes decode to bytes that are no UTF-8.
        {"/system/serialNumber", R"("BS\udfff")"}, {"/rooms/0/thermostat/id", R"("TH\udc0012")"},
        {"/rooms/0", "1"}, {"/rooms/0/room", nullptr}, {"/rooms/0/room", "-1"}, {"/rooms/0/room", "4294967296"},
        {"/rooms/0/room", "1.0"}, {"/rooms/0/actors", nullptr}, {"/rooms/0/actors/0", "3"},
        {"/rooms/0/actors/0/number", nullptr}, {"/rooms/0/actors/0/number", "2147483648"},
        {"/rooms/0/actors/0/valveOpen", "1"}, {"/rooms/0/thermostat", "null"}, {"/rooms/0/thermostat/id", nullptr},
        {"/rooms/0/thermostat/id", "12345678"}, {"/rooms/0/thermostat/setpointTemperature", nullptr},
        {"/rooms/0/thermostat/setpointTemperature", "\"21.5\""}, {"/rooms/0/thermostat/maximumTemperature", "null"},
        {"/rooms/1/powerLevel", "5"}, {"/rooms/1/powerLevel/level", nullptr}, {"/rooms/1/powerLevel/level", "256"},
        {"/rooms/1/powerLevel/level", "-1"}, {"/rooms/1/powerLevel/percent", "300"},
        {"/rooms/1/powerLevel/minimumLevel", "-1"}, {"/rooms/1/powerLevel/maximumLevel", "\"10\""}, {"/errors", nullptr},
        {"/errors/0", "\"x\""}, {"/errors/0/code", nullptr}, {"/errors/0/code", "-3.5"}, {"/errors/0/code", "-2147483649"},
        {"/errors/0/room", "-2"}, {"/errors/0/description", "3"}, {"/leavingHome", nullptr}, {"/leavingHome", "false"},
        {"/leavingHome/active", nullptr}, {"/leavingHome/active", "\"false\""},
    };
    for (const auto& mutation : mutations) {
        const auto json = MutatedStatus(mutation.first, mutation.second);
        EXPECT_EQ(KeldraJsonCodec::DecodeStatus(json).GetError(), s_unusable) << json;
    }
    const std::string example = StatusExampleJson();
    std::string invalidUtf8 = example;
    invalidUtf8.replace(invalidUtf8.find("BS-0042"), 7, "BS-\xff\xfe");
    const std::string bodies[] = {
        "", "   ", "not json", "[]", "\"text\"", "null", "42", example + " {}", example + std::string(1, '\0'),
        example.substr(0, example.size() / 2), invalidUtf8, std::string(100000, '['),
        MutatedStatus("/responseCode", "0").replace(16, 1, "1e400"),
    };
    for (const auto& body : bodies) {
        EXPECT_EQ(KeldraJsonCodec::DecodeStatus(body).GetError(), s_unusable) << body.substr(0, 80);
    }
}

TEST(KeldraJsonCodec, ShortInfoAndWriteAnswers)
{
    const KeldraJson::BaseStationShortInfoMessage info{std::string("2.4.1"), std::string("0123456789"),
                                                       std::string("Brisgo")};
    EXPECT_EQ(KeldraJsonCodec::DecodeShortInfo(KeldraJsonCodec::EncodeShortInfo(info)).GetValue(), info);
    EXPECT_EQ(KeldraJsonCodec::DecodeShortInfo("{}").GetValue(), KeldraJson::BaseStationShortInfoMessage());
    for (const char* unusable : {R"({"firmwareVersion": 140})", R"({"vendor": 1})", R"({"stationId": null})", "[]"}) {
        EXPECT_EQ(KeldraJsonCodec::DecodeShortInfo(unusable).GetError(), s_unusable) << unusable;
    }
    EXPECT_EQ(static_cast<int>(KeldraJsonCodec::DecodeWriteResponse(R"({"status": -5, "x": 1})").GetValue()), -5);
    for (const char* unusable : {"{}", R"({"status": "0"})", R"({"status": 0.0})", R"({"status": true})",
                                 R"({"status": 2147483648})", "[0]", ""}) {
        EXPECT_EQ(KeldraJsonCodec::DecodeWriteResponse(unusable).GetError(), s_unusable) << unusable;
    }
}

}  // namespace
