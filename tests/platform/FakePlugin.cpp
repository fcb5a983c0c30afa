// A stand-in plug-in for the gateway host's tests, loaded with dlopen like
// the real one. It writes what it is asked to do, one line per call, to the
// file named by FAKE_PLUGIN_RECORD, and sends a few values in Run.
// FAKE_PLUGIN_FAIL_INIT=1 makes Init fail. Its product web service keeps
// five stations in memory and answers like the real one; the request
// "throwForTest" throws.
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional.hpp>

#include "ProductWebService.h"
#include "app/OruApp.h"

#define FAKE_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Record(const std::string& line)
{
    static std::mutex mutex;
    const char* path = std::getenv("FAKE_PLUGIN_RECORD");
    if (path == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    std::ofstream(path, std::ios::app) << line << '\n';
}

template <typename T>
std::string Text(const T& value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

class FakeApp final : public OruApp::IOruApp {
public:
    bool Init(OruApp::IOruAppHost* host) override
    {
        std::string ids = "<missing>";
        host->GetTextParameter(1, ids);
        std::int32_t rooms = 0;
        const bool hasRooms = host->GetNumberParameter(1, rooms);
        Record("Init text 1=" + ids + " number 1=" + (hasRooms ? std::to_string(rooms) : "<missing>") +
               " directory=" + host->GetConfigurationDirectory());
        _host = host;
        const char* fail = std::getenv("FAKE_PLUGIN_FAIL_INIT");
        return fail == nullptr || std::string(fail) != "1";
    }

    void Exit(const OruApp::IOruAppHost* host) override
    {
        Record(std::string("Exit ") + (host == _host ? "same host" : "other host"));
    }

    bool Run() override
    {
        Record("Run");
        _host->SendFloat(3, 21.5f);
        _host->SendSwitch(503, false);
        _host->SendText(504, "-0:NoError");
        _host->SendByte(38, 7);
        _host->SendDateTime(513, boost::posix_time::ptime(boost::gregorian::date(2026, 12, 24),
                                                           boost::posix_time::hours(18)));
        _host->SendTimeOfDay(515, *OruApp::TimeOfDay::Create(18, 30));
        _host->SetLedErrorCode(2);
        return true;
    }

    bool GetValue(int, std::string&) override { return false; }
    bool GetValue(int, bool&) override { return false; }
    bool GetValue(int, unsigned char&) override { return false; }
    bool GetValue(int, float&) override { return false; }
    bool GetValue(int, unsigned short&) override { return false; }
    bool GetValue(int, unsigned long&) override { return false; }
    bool GetValue(int, long&) override { return false; }
    bool GetValue(int, boost::posix_time::ptime&) override { return false; }
    bool GetValue(int, OruApp::TimeOfDay&) override { return false; }

    void OnValueReceived(int co, const std::string& value) override { Received(co, "text", "[" + value + "]"); }
    void OnValueReceived(int co, bool value) override { Received(co, "bool", value ? "true" : "false"); }
    void OnValueReceived(int co, unsigned char value) override { Received(co, "byte", std::to_string(value)); }
    void OnValueReceived(int co, float value) override { Received(co, "float", Text(value)); }
    void OnValueReceived(int co, unsigned short value) override { Received(co, "word", std::to_string(value)); }
    void OnValueReceived(int co, unsigned long value) override { Received(co, "dword", std::to_string(value)); }
    void OnValueReceived(int co, long value) override { Received(co, "long", std::to_string(value)); }
    void OnValueReceived(int co, const boost::posix_time::ptime& value) override
    {
        Received(co, "datetime", value.is_special() ? "none" : boost::posix_time::to_iso_extended_string(value));
    }
    void OnValueReceived(int co, const OruApp::TimeOfDay& value) override { Received(co, "time", Text(value)); }

private:
    static void Received(int co, const std::string& type, const std::string& value)
    {
        Record("received " + std::to_string(co) + " " + type + " " + value);
    }

    OruApp::IOruAppHost* _host = nullptr;
};

class FakeProductWebService final : public Oru::IProductWebService {
public:
    FakeProductWebService()
    {
        for (int index = 0; index < 5; ++index) {
            _stations[index];
        }
    }

    Oru::ProductWebServiceResult HandleRequest(const std::string& request, const rapidjson::Value& parameters) override
    {
        Record("HandleRequest " + request);
        if (request == "getBaseStationConfig") {
            return Get();
        }
        if (request == "setBaseStationConfig") {
            return Set(parameters);
        }
        if (request == "throwForTest") {
            throw std::runtime_error("thrown for the test");
        }
        return std::monostate();
    }

private:
    struct Station {
        boost::optional<std::string> username;
        boost::optional<std::string> credentials;
    };

    Oru::ProductWebServiceResult Get() const
    {
        rapidjson::Document answer(rapidjson::kObjectType);
        auto& allocator = answer.GetAllocator();
        rapidjson::Value stations(rapidjson::kArrayType);
        for (const auto& entry : _stations) {
            rapidjson::Value station(rapidjson::kObjectType);
            station.AddMember("index", entry.first, allocator);
            if (entry.second.username && entry.second.credentials) {
                station.AddMember("username", rapidjson::Value(entry.second.username->c_str(), allocator), allocator);
                station.AddMember("credentials", true, allocator);
            }
            stations.PushBack(station, allocator);
        }
        answer.AddMember("baseStations", stations, allocator);
        return Oru::ProductWebServiceResult(std::move(answer));
    }

    Oru::ProductWebServiceResult Set(const rapidjson::Value& parameters)
    {
        if (!parameters.IsObject() || !parameters.HasMember("index") || !parameters["index"].IsInt() ||
            parameters["index"].GetInt() < 0 || parameters["index"].GetInt() > 255) {
            return std::string("RQE002");
        }
        Station station;
        for (const char* name : {"username", "credentials"}) {
            if (!parameters.HasMember(name) || parameters[name].IsNull()) {
                continue;
            }
            if (!parameters[name].IsString()) {
                return std::string("RQE002");
            }
            (std::string(name) == "username" ? station.username : station.credentials) =
                std::string(parameters[name].GetString(), parameters[name].GetStringLength());
        }
        if (station.username.has_value() != station.credentials.has_value()) {
            return std::string("RQE004");
        }
        const auto entry = _stations.find(parameters["index"].GetInt());
        if (entry == _stations.end()) {
            return std::string("RQE003");
        }
        entry->second = station;
        return Oru::ProductWebServiceResult(rapidjson::Document(rapidjson::kObjectType));
    }

    std::map<int, Station> _stations;
};

}  // namespace

FAKE_PLUGIN_EXPORT OruApp::IOruApp* createOruApp()
{
    Record("createOruApp");
    return new FakeApp;
}

FAKE_PLUGIN_EXPORT void deleteOruApp(OruApp::IOruApp* app)
{
    Record("deleteOruApp");
    delete app;
}

FAKE_PLUGIN_EXPORT Oru::IProductWebService* CreateProductWebService(Oru::ICommonWebService&)
{
    Record("CreateProductWebService");
    return new FakeProductWebService;
}
