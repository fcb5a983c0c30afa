#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

#include "basestations/BaseStationWebParameters.h"
#include "basestations/KeldraJson.h"

using namespace Keldra;
using namespace Keldra::KeldraJson;

namespace {

template <typename T>
std::string Print(const T& value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

template <typename T>
struct Change {
    const char* field;
    std::function<void(T&)> apply;
};

// Each change of one field makes the value unequal to the original, and
// prints differently so that a failing comparison shows the field.
template <typename T>
void ExpectEveryFieldCounts(const T& original, const std::vector<Change<T>>& changes)
{
    const T copy = original;
    EXPECT_TRUE(copy == original);
    EXPECT_FALSE(copy != original);
    for (const auto& change : changes) {
        T changed = original;
        change.apply(changed);
        EXPECT_FALSE(changed == original) << change.field;
        EXPECT_FALSE(original == changed) << change.field;
        EXPECT_TRUE(changed != original) << change.field;
        EXPECT_NE(Print(changed), Print(original)) << change.field;
    }
}

ThermostatObject FullThermostat()
{
    return {"TH000001", 21.5, 5.0, 30.0, 20.75, 45.5, false};
}

PowerLevelControlObject FullPowerLevel() { return {7, 180, 0, 10}; }

RoomObject FullRoom()
{
    return {3, {{4, true}}, FullThermostat(), FullPowerLevel()};
}

SystemObject FullSystem() { return {std::string("SN-123"), std::string("Ground floor"), std::string("0-0"), "24-05-17", "18:30:05", true}; }

TEST(KeldraJson, ThermostatObjectComparesEveryField)
{
    ExpectEveryFieldCounts<ThermostatObject>(
        FullThermostat(),
        {
            {"id", [](ThermostatObject& t) { t.id = "TH000002"; }},
            {"setpoint", [](ThermostatObject& t) { t.setpointTemperature = 21.0; }},
            {"setpoint last bit", [](ThermostatObject& t) { t.setpointTemperature = std::nextafter(21.5, 22.0); }},
            {"minimum", [](ThermostatObject& t) { t.minimumTemperature = 5.5; }},
            {"minimum empty", [](ThermostatObject& t) { t.minimumTemperature = boost::none; }},
            {"maximum", [](ThermostatObject& t) { t.maximumTemperature = 29.5; }},
            {"maximum empty", [](ThermostatObject& t) { t.maximumTemperature = boost::none; }},
            {"room temperature", [](ThermostatObject& t) { t.roomTemperature = 20.5; }},
            {"room temperature empty", [](ThermostatObject& t) { t.roomTemperature = boost::none; }},
            {"humidity", [](ThermostatObject& t) { t.relativeHumidity = 45.0; }},
            {"humidity empty", [](ThermostatObject& t) { t.relativeHumidity = boost::none; }},
            {"battery", [](ThermostatObject& t) { t.batteryLow = true; }},
            {"battery empty", [](ThermostatObject& t) { t.batteryLow = boost::none; }},
        });
    // and an empty optional differs from a set one in either direction
    ExpectEveryFieldCounts<ThermostatObject>(
        ThermostatObject{"TH000001", 21.5, {}, {}, {}, {}, {}},
        {
            {"minimum set", [](ThermostatObject& t) { t.minimumTemperature = 0.0; }},
            {"maximum set", [](ThermostatObject& t) { t.maximumTemperature = 0.0; }},
            {"room temperature set", [](ThermostatObject& t) { t.roomTemperature = 0.0; }},
            {"humidity set", [](ThermostatObject& t) { t.relativeHumidity = 0.0; }},
            {"battery set", [](ThermostatObject& t) { t.batteryLow = false; }},
        });
}

TEST(KeldraJson, FloatingPointFieldsCompareExactly)
{
    ThermostatObject sum = FullThermostat();
    sum.setpointTemperature = 0.1 + 0.2;
    ThermostatObject literal = FullThermostat();
    literal.setpointTemperature = 0.3;
    EXPECT_NE(sum, literal);

    ThermostatObject negativeZero = FullThermostat();
    negativeZero.setpointTemperature = -0.0;
    ThermostatObject zero = FullThermostat();
    zero.setpointTemperature = 0.0;
    EXPECT_EQ(negativeZero, zero);

    ThermostatObject notANumber = FullThermostat();
    notANumber.roomTemperature = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(notANumber, notANumber);  // NaN equals nothing, itself included
}

TEST(KeldraJson, PowerLevelControlObjectComparesEveryField)
{
    ExpectEveryFieldCounts<PowerLevelControlObject>(
        FullPowerLevel(),
        {
            {"level", [](PowerLevelControlObject& p) { p.powerLevel = 8; }},
            {"percentage", [](PowerLevelControlObject& p) { p.percentage = 178; }},
            {"percentage empty", [](PowerLevelControlObject& p) { p.percentage = boost::none; }},
            {"minimum", [](PowerLevelControlObject& p) { p.minimumLevel = 1; }},
            {"minimum empty", [](PowerLevelControlObject& p) { p.minimumLevel = boost::none; }},
            {"maximum", [](PowerLevelControlObject& p) { p.maximumLevel = 9; }},
            {"maximum empty", [](PowerLevelControlObject& p) { p.maximumLevel = boost::none; }},
        });
}

TEST(KeldraJson, SettingsAndLeavingHomeCompareEveryField)
{
    ExpectEveryFieldCounts<SettingsObject>(
        SettingsObject{true, false},
        {
            {"cooling", [](SettingsObject& s) { s.coolingMode = false; }},
            {"changeover", [](SettingsObject& s) { s.automaticChangeover = true; }},
            {"changeover empty", [](SettingsObject& s) { s.automaticChangeover = boost::none; }},
        });
    ExpectEveryFieldCounts<LeavingHomeObject>(
        LeavingHomeObject{true, std::string("24-05-17"), std::string("18:30")},
        {
            {"active", [](LeavingHomeObject& l) { l.active = false; }},
            {"date", [](LeavingHomeObject& l) { l.date = std::string("24-05-18"); }},
            {"date empty", [](LeavingHomeObject& l) { l.date = boost::none; }},
            {"date empty text", [](LeavingHomeObject& l) { l.date = std::string(); }},
            {"time", [](LeavingHomeObject& l) { l.time = std::string("18:31"); }},
            {"time empty", [](LeavingHomeObject& l) { l.time = boost::none; }},
        });
}

TEST(KeldraJson, StatusPartsCompareEveryField)
{
    ExpectEveryFieldCounts<ErrorObject>(
        ErrorObject{-3, 2u, std::string("Thermostat missing")},
        {
            {"code", [](ErrorObject& e) { e.code = -4; }},
            {"room", [](ErrorObject& e) { e.room = 3u; }},
            {"room empty", [](ErrorObject& e) { e.room = boost::none; }},
            {"description", [](ErrorObject& e) { e.description = std::string("other"); }},
            {"description empty", [](ErrorObject& e) { e.description = boost::none; }},
        });
    ExpectEveryFieldCounts<ActorObject>(
        ActorObject{4, true},
        {
            {"number", [](ActorObject& a) { a.actorModuleNumber = 5; }},
            {"valve", [](ActorObject& a) { a.valveOpen = false; }},
            {"valve empty", [](ActorObject& a) { a.valveOpen = boost::none; }},
        });
    ExpectEveryFieldCounts<RoomObject>(
        FullRoom(),
        {
            {"room number", [](RoomObject& r) { r.roomNumber = 4; }},
            {"actor", [](RoomObject& r) { r.actors[0].actorModuleNumber = 5; }},
            {"second actor", [](RoomObject& r) { r.actors.push_back({5, {}}); }},
            {"no actor", [](RoomObject& r) { r.actors.clear(); }},
            {"thermostat", [](RoomObject& r) { r.thermostat->setpointTemperature = 22.0; }},
            {"thermostat empty", [](RoomObject& r) { r.thermostat = boost::none; }},
            {"power level", [](RoomObject& r) { r.powerLevelControl->powerLevel = 2; }},
            {"power level empty", [](RoomObject& r) { r.powerLevelControl = boost::none; }},
        });
    ExpectEveryFieldCounts<SystemObject>(
        FullSystem(),
        {
            {"serial", [](SystemObject& s) { s.serialNumber = std::string("SN-124"); }},
            {"serial empty", [](SystemObject& s) { s.serialNumber = boost::none; }},
            {"name", [](SystemObject& s) { s.stationName = std::string("First floor"); }},
            {"name empty", [](SystemObject& s) { s.stationName = boost::none; }},
            {"code", [](SystemObject& s) { s.code = std::string("1-2"); }},
            {"code empty", [](SystemObject& s) { s.code = boost::none; }},
            {"date", [](SystemObject& s) { s.date = "24-05-18"; }},
            {"time", [](SystemObject& s) { s.time = "18:30:06"; }},
            {"cooling", [](SystemObject& s) { s.cooling = false; }},
        });
}

TEST(KeldraJson, StatusObjectComparesEveryField)
{
    const StatusObject status{FullSystem(), {FullRoom()}, {{-3, {}, {}}}, {true, {}, {}}, 200};
    ExpectEveryFieldCounts<StatusObject>(
        status,
        {
            {"system", [](StatusObject& s) { s.system.cooling = false; }},
            {"room", [](StatusObject& s) { s.rooms[0].roomNumber = 1; }},
            {"rooms added", [](StatusObject& s) { s.rooms.push_back(FullRoom()); }},
            {"rooms empty", [](StatusObject& s) { s.rooms.clear(); }},
            {"error", [](StatusObject& s) { s.errors[0].code = -24; }},
            {"errors empty", [](StatusObject& s) { s.errors.clear(); }},
            {"leaving home", [](StatusObject& s) { s.leavingHome.active = false; }},
            {"response code", [](StatusObject& s) { s.responseCode = 405; }},
        });
}

TEST(KeldraJson, ShortInfoComparesEveryField)
{
    ExpectEveryFieldCounts<BaseStationShortInfoMessage>(
        BaseStationShortInfoMessage{std::string("1.4.0"), std::string("A1B2C3D4E5"), std::string("Brisgo")},
        {
            {"firmware", [](BaseStationShortInfoMessage& m) { m.firmwareVersion = std::string("1.4.1"); }},
            {"firmware empty", [](BaseStationShortInfoMessage& m) { m.firmwareVersion = boost::none; }},
            {"station", [](BaseStationShortInfoMessage& m) { m.stationId = std::string("A1B2C3D4E6"); }},
            {"station empty", [](BaseStationShortInfoMessage& m) { m.stationId = boost::none; }},
            {"model", [](BaseStationShortInfoMessage& m) { m.model = std::string("Other"); }},
            {"model empty", [](BaseStationShortInfoMessage& m) { m.model = boost::none; }},
        });
}

TEST(KeldraJson, DefaultValuesAreEqual)
{
    EXPECT_EQ(StatusObject(), StatusObject());
    EXPECT_EQ(ThermostatObject(), ThermostatObject());
    EXPECT_EQ(PowerLevelControlObject(), PowerLevelControlObject());
    EXPECT_EQ(SettingsObject(), SettingsObject());
    EXPECT_EQ(LeavingHomeObject(), LeavingHomeObject());
    EXPECT_EQ(BaseStationShortInfoMessage(), BaseStationShortInfoMessage());
}

TEST(KeldraJson, PrintsFieldsByName)
{
    EXPECT_EQ(Print(FullThermostat()),
              "ThermostatObject{id: \"TH000001\", setpointTemperature: 21.5, minimumTemperature: 5, "
              "maximumTemperature: 30, roomTemperature: 20.75, relativeHumidity: 45.5, batteryLow: false}");
    EXPECT_EQ(Print(PowerLevelControlObject{7, {}, 0, 10}),
              "PowerLevelControlObject{powerLevel: 7, percentage: -, minimumLevel: 0, maximumLevel: 10}");
    EXPECT_EQ(Print(LeavingHomeObject{true, std::string("24-05-17"), {}}),
              "LeavingHomeObject{active: true, date: \"24-05-17\", time: -}");
    EXPECT_EQ(Print(RoomObject{2, {{4, {}}}, {}, PowerLevelControlObject{3, {}, {}, {}}}),
              "RoomObject{roomNumber: 2, actors: [ActorObject{actorModuleNumber: 4, valveOpen: -}], thermostat: -, "
              "powerLevelControl: PowerLevelControlObject{powerLevel: 3, percentage: -, minimumLevel: -, "
              "maximumLevel: -}}");
    EXPECT_EQ(Print(StatusObject{{}, {}, {{-3, {}, {}}}, {}, 200}),
              "StatusObject{system: SystemObject{serialNumber: -, stationName: -, code: -, date: \"\", time: \"\", "
              "cooling: false}, rooms: [], errors: [ErrorObject{code: -3, room: -, description: -}], "
              "leavingHome: LeavingHomeObject{active: false, date: -, time: -}, responseCode: 200}");
}

TEST(KeldraJson, PrintsDoublesSoThatDifferentValuesDiffer)
{
    struct Case {
        double value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {21.5, "21.5"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1234567.0, "1234567"},
        {-0.5, "-0.5"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& testCase : cases) {
        ThermostatObject thermostat;
        thermostat.setpointTemperature = testCase.value;
        EXPECT_NE(Print(thermostat).find("setpointTemperature: " + testCase.text + ","), std::string::npos)
            << Print(thermostat);
    }
}

TEST(BaseStationWebParameters, ComparesEndpointAndCredentialsAndNeverPrintsThePassword)
{
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address_v4("192.168.1.10"), 443);
    const BaseStationWebParameters parameters(endpoint, Credentials{"installer", "secret"});
    EXPECT_EQ(parameters, BaseStationWebParameters(endpoint, Credentials{"installer", "secret"}));
    EXPECT_NE(parameters, BaseStationWebParameters(endpoint, Credentials{"installer", "other"}));
    EXPECT_NE(parameters, BaseStationWebParameters(endpoint, boost::none));
    EXPECT_NE(parameters, BaseStationWebParameters(boost::asio::ip::tcp::endpoint(endpoint.address(), 80),
                                                   Credentials{"installer", "secret"}));
    EXPECT_EQ(Print(parameters), "192.168.1.10:443 as \"installer\"");
    EXPECT_EQ(Print(BaseStationWebParameters(endpoint, boost::none)), "192.168.1.10:443 without credentials");
}

}  // namespace
