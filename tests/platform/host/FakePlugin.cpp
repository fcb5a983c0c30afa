// A stand-in plug-in for the gateway host's tests, loaded with dlopen like
// the real one. It writes what it is asked to do, one line per call, to the
// file named by FAKE_PLUGIN_RECORD, and sends a few values in Run.
// FAKE_PLUGIN_FAIL_INIT=1 makes Init fail. Its product web service answers
// "echo" with the parameters, "refuse" with the error code in "code" (RQE002
// without one), throws on "throw" and knows nothing else.
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "platform/host/ProductWebService.h"
#include "app/OruApp.h"

#define FAKE_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Record(const std::string& line)
{
    static std::mutex mutex;
    const char* path = std::getenv("FAKE_PLUGIN_RECORD");
    if (path != nullptr) {
        std::lock_guard<std::mutex> lock(mutex);
        std::ofstream(path, std::ios::app) << line << '\n';
    }
}

template <typename T>
void Received(int co, const std::string& type, const T& value)
{
    std::ostringstream line;
    line << "received " << co << ' ' << type << ' ' << value;
    Record(line.str());
}

class FakeApp final : public OruApp::IOruApp {
public:
    bool Init(OruApp::IOruAppHost* host) override
    {
        std::string ids = "<missing>";
        std::int32_t rooms = -1;
        host->GetTextParameter(1, ids);
        host->GetNumberParameter(1, rooms);
        Record("Init text 1=" + ids + " number 1=" + std::to_string(rooms) + " directory=" +
               host->GetConfigurationDirectory());
        _host = host;
        const char* fail = std::getenv("FAKE_PLUGIN_FAIL_INIT");
        return fail == nullptr || std::string(fail) != "1";
    }

    void Exit(const OruApp::IOruAppHost* host) override { Record(host == _host ? "Exit same host" : "Exit other"); }

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
    void OnValueReceived(int co, unsigned char value) override { Received(co, "byte", int(value)); }
    void OnValueReceived(int co, float value) override { Received(co, "float", value); }
    void OnValueReceived(int co, unsigned short value) override { Received(co, "word", value); }
    void OnValueReceived(int co, unsigned long value) override { Received(co, "dword", value); }
    void OnValueReceived(int co, long value) override { Received(co, "long", value); }
    void OnValueReceived(int co, const boost::posix_time::ptime& value) override
    {
        Received(co, "datetime", value.is_special() ? "none" : boost::posix_time::to_iso_extended_string(value));
    }
    void OnValueReceived(int co, const OruApp::TimeOfDay& value) override { Received(co, "time", value); }

private:
    OruApp::IOruAppHost* _host = nullptr;
};

class FakeProductWebService final : public Oru::IProductWebService {
public:
    Oru::ProductWebServiceResult HandleRequest(const std::string& request, const rapidjson::Value& parameters) override
    {
        if (request == "echo") {
            rapidjson::Document answer;
            answer.CopyFrom(parameters, answer.GetAllocator());
            return Oru::ProductWebServiceResult(std::move(answer));
        }
        if (request == "refuse") {
            const bool hasCode = parameters.IsObject() && parameters.HasMember("code");
            return std::string(hasCode ? parameters["code"].GetString() : "RQE002");
        }
        if (request == "throw") {
            throw std::runtime_error("thrown for the test");
        }
        return std::monostate();
    }
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
