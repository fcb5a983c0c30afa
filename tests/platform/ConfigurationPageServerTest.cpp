#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <boost/asio/io_service.hpp>

#include "ConfigurationPageServer.h"
#include "HttpTestClient.h"
#include "PluginLibrary.h"

using namespace Oru;
using boost::beast::http::verb;
using Oru::Testing::HttpAnswer;
using Oru::Testing::HttpRequest;

namespace {

// The server on its own event loop thread, in front of the fake plug-in's
// product web service.
class ConfigurationPageServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("FAKE_PLUGIN_RECORD");
        std::string error;
        _plugin = PluginLibrary::Load(FAKE_PLUGIN_LIBRARY, error);
        ASSERT_NE(nullptr, _plugin) << error;
        _service.reset(_plugin->createProductWebService(_common));
        _server = std::make_unique<ConfigurationPageServer>(_ioService, *_service);
        ASSERT_FALSE(_server->Listen(0));
        _port = _server->GetPort();
        ASSERT_NE(0, _port);
        _loop = std::thread([this]() { _ioService.run(); });
    }

    void TearDown() override
    {
        if (_loop.joinable()) {
            _work.reset();
            _ioService.stop();
            _loop.join();
        }
        _server.reset();
        _service.reset();
    }

    HttpAnswer Post(const std::string& request, const std::string& body)
    {
        return HttpRequest(_port, verb::post, "/api/" + request, body);
    }

    boost::asio::io_service _ioService;
    std::unique_ptr<boost::asio::io_service::work> _work = std::make_unique<boost::asio::io_service::work>(_ioService);
    std::unique_ptr<PluginLibrary> _plugin;
    struct : ICommonWebService {
    } _common;
    std::unique_ptr<IProductWebService> _service;
    std::unique_ptr<ConfigurationPageServer> _server;
    unsigned short _port = 0;
    std::thread _loop;
};

TEST_F(ConfigurationPageServerTest, ServesThePage)
{
    const HttpAnswer page = HttpRequest(_port, verb::get, "/");
    EXPECT_EQ(200u, page.status);
    EXPECT_EQ("text/html; charset=utf-8", page.contentType);
    for (const char* part : {"/api/", "getBaseStationConfig", "setBaseStationConfig", "base64", "RQE002", "RQE003",
                             "RQE004"}) {
        EXPECT_NE(std::string::npos, page.body.find(part)) << part;
    }
    EXPECT_EQ(200u, HttpRequest(_port, verb::get, "/index.html?x=1").status);
}

TEST_F(ConfigurationPageServerTest, CredentialsRoundTrip)
{
    const std::string initial = R"({"baseStations":[{"index":0},{"index":1},{"index":2},{"index":3},{"index":4}]})";
    HttpAnswer answer = Post("getBaseStationConfig", "");
    EXPECT_EQ(200u, answer.status);
    EXPECT_EQ("application/json", answer.contentType);
    EXPECT_EQ(initial, answer.body);

    answer = Post("setBaseStationConfig", R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0"})");
    EXPECT_EQ(200u, answer.status);
    EXPECT_EQ("{}", answer.body);

    answer = Post("getBaseStationConfig", "{}");
    EXPECT_EQ(200u, answer.status);
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":2,"username":"admin","credentials":true},)"
              R"({"index":3},{"index":4}]})",
              answer.body);
    EXPECT_EQ(std::string::npos, answer.body.find("c2VjcmV0")) << "the password is never shown";

    answer = Post("setBaseStationConfig", R"({"index": 2})");
    EXPECT_EQ(200u, answer.status);
    EXPECT_EQ(initial, Post("getBaseStationConfig", "").body);
}

struct RequestCase {
    std::string name;
    verb method;
    std::string target;
    std::string body;
    unsigned status;
    std::string answer;
};

class ConfigurationPageRequests : public ConfigurationPageServerTest,
                                  public ::testing::WithParamInterface<RequestCase> {};

TEST_P(ConfigurationPageRequests, AnswerWithStatusAndErrorCode)
{
    const RequestCase& request = GetParam();
    const HttpAnswer answer = HttpRequest(_port, request.method, request.target, request.body);
    EXPECT_EQ(request.status, answer.status);
    EXPECT_EQ(request.answer, answer.body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigurationPageRequests,
    ::testing::Values(
        RequestCase{"OnlyUserName", verb::post, "/api/setBaseStationConfig", R"({"index":1,"username":"admin"})", 400,
                    R"({"error":"RQE004"})"},
        RequestCase{"OnlyPassword", verb::post, "/api/setBaseStationConfig", R"({"index":1,"credentials":"eA=="})",
                    400, R"({"error":"RQE004"})"},
        RequestCase{"UnknownStation", verb::post, "/api/setBaseStationConfig",
                    R"({"index":7,"username":"a","credentials":"eA=="})", 400, R"({"error":"RQE003"})"},
        RequestCase{"IndexAsText", verb::post, "/api/setBaseStationConfig", R"({"index":"2"})", 400,
                    R"({"error":"RQE002"})"},
        RequestCase{"ParametersNotAnObject", verb::post, "/api/setBaseStationConfig", "[1,2]", 400,
                    R"({"error":"RQE002"})"},
        RequestCase{"DeeplyNested", verb::post, "/api/setBaseStationConfig",
                    std::string(32768, '[') + std::string(32768, ']'), 400, R"({"error":"RQE002"})"},
        RequestCase{"NotJson", verb::post, "/api/setBaseStationConfig", "{index: 2", 400,
                    R"({"error":"InvalidJson"})"},
        RequestCase{"UnknownRequest", verb::post, "/api/getbasestationconfig", "{}", 404,
                    R"({"error":"UnknownRequest"})"},
        RequestCase{"ServiceThrows", verb::post, "/api/throwForTest", "{}", 500, R"({"error":"InternalError"})"},
        RequestCase{"ApiNeedsPost", verb::get, "/api/getBaseStationConfig", "", 405, R"({"error":"UsePost"})"},
        RequestCase{"PageNeedsGet", verb::post, "/", "{}", 405, "Use GET.\n"},
        RequestCase{"OtherPath", verb::get, "/etc/passwd", "", 404, "Not found.\n"},
        RequestCase{"TooLarge", verb::post, "/api/setBaseStationConfig",
                    std::string(ConfigurationPageServer::MaximumBodySize + 1, ' '), 413,
                    R"({"error":"RequestTooLarge"})"}),
    [](const ::testing::TestParamInfo<RequestCase>& testCase) { return testCase.param.name; });

TEST_F(ConfigurationPageServerTest, ClosedServerAcceptsNoMoreConnections)
{
    std::promise<void> closed;
    boost::asio::post(_ioService, [this, &closed]() {
        _server->Close();
        closed.set_value();
    });
    closed.get_future().wait();
    EXPECT_THROW(HttpRequest(_port, verb::get, "/"), boost::system::system_error);
}

}  // namespace
