// Runs the simulator in-process on loopback with ephemeral ports, started
// from the example scenario, and drives it over HTTPS and its control port
// with a client of its own (not the plug-in's web API client).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <gtest/gtest.h>
#include <rapidjson/pointer.h>

#include "tools/simulator/JsonText.h"
#include "tools/simulator/ScenarioFormat.h"
#include "tools/simulator/StationSimulator.h"

namespace Keldra {
namespace Simulation {

namespace http = boost::beast::http;
using verb = http::verb;
inline const std::string Admin = "Basic YWRtaW46c2VjcmV0";  // admin:secret, as in the example scenario
inline const std::string ExampleScenario = KELDRA_SIMULATOR_SCENARIOS "/two-rooms.json";

// One connection, over TLS or plain, one request at a time, each step
// bounded by the timeout; closed after an error.
class TestHttpClient {
public:
    struct Result {
        boost::system::error_code error;
        http::response<http::string_body> response;
    };

    TestHttpClient(boost::asio::ip::tcp::endpoint endpoint, bool useTls) : _endpoint(endpoint), _useTls(useTls)
    {
        _ssl.set_verify_mode(boost::asio::ssl::verify_none);
    }

    // Connects when needed, sends and reads the answer.
    Result Send(verb method, const std::string& target, const std::string& body = {},
                const std::string& authorization = {})
    {
        http::request<http::string_body> request(method, target, 11, body);
        request.set(http::field::host, _endpoint.address().to_string());
        if (!authorization.empty()) {
            request.set(http::field::authorization, authorization);
        }
        if (!body.empty()) {
            request.set(http::field::content_type, "application/json");
        }
        request.prepare_payload();
        Result result;
        if (!_stream) {
            _buffer.clear();
            auto& socket = boost::beast::get_lowest_layer(_stream.emplace(_io, _ssl));
            result.error = Run([&](auto handler) { socket.async_connect(_endpoint, handler); });
            if (!result.error && _useTls) {
                result.error = Run([&](auto handler) { _stream->async_handshake(_stream->client, handler); });
            }
        }
        http::response_parser<http::string_body> parser;
        parser.body_limit(1024 * 1024);
        const auto exchange = [&](auto& stream) {
            result.error = Run([&](auto handler) { http::async_write(stream, request, handler); });
            if (!result.error) {
                result.error = Run([&](auto handler) { http::async_read(stream, _buffer, parser, handler); });
            }
        };
        if (!result.error) {
            _useTls ? exchange(*_stream) : exchange(_stream->next_layer());
        }
        if (!result.error) {
            result.response = parser.release();
        }
        if (result.error || !result.response.keep_alive()) {
            Close();
        }
        return result;
    }

    bool IsConnected() const { return _stream.has_value(); }
    void Close() { _stream.reset(); }

    std::chrono::milliseconds timeout{5000};

private:
    template <typename Operation>
    boost::system::error_code Run(Operation&& operation)
    {
        boost::system::error_code result = boost::asio::error::would_block;
        boost::beast::get_lowest_layer(*_stream).expires_after(timeout);
        operation([&result](boost::system::error_code error, auto&&...) { result = error; });
        _io.restart();
        _io.run();
        return result;
    }

    boost::asio::io_context _io;
    boost::asio::ssl::context _ssl{boost::asio::ssl::context::tls_client};
    boost::asio::ip::tcp::endpoint _endpoint;
    bool _useTls;
    std::optional<boost::beast::ssl_stream<boost::beast::tcp_stream>> _stream;
    boost::beast::flat_buffer _buffer;
};

// The text of the JSON value at the pointer ("/rooms/0/room", "" for all)
// in the answer's body, or "<absent>".
inline std::string JsonAt(const TestHttpClient::Result& result, const std::string& pointer)
{
    rapidjson::Document document;
    std::string error;
    const bool parsed = ParseJson(result.response.body(), document, error);
    const rapidjson::Value* value = parsed ? rapidjson::Pointer(pointer.c_str()).Get(document) : nullptr;
    return value == nullptr ? "<absent>" : JsonToText(*value);
}

class SimulatorFixture : public ::testing::Test {
protected:
    void SetUp() override { StartSimulator({}); }
    // The example scenario's station, started anew with these options
    // (address and ports are loopback and ephemeral).
    void StartSimulator(StationSimulator::Options options)
    {
        _simulator.reset();
        ScenarioFormat::Result scenario = ScenarioFormat::Load(ExampleScenario);
        ASSERT_TRUE(scenario.state) << scenario.error;
        options.address = options.controlAddress = "127.0.0.1";
        options.port = options.controlPort = 0;
        _simulator = std::make_unique<StationSimulator>(std::move(*scenario.state), options);
        EXPECT_EQ("", _simulator->Start());
    }

    TestHttpClient StationClient() const { return TestHttpClient(_simulator->StationEndpoint(), true); }
    // One request on a connection of its own.
    TestHttpClient::Result Station(verb method, const std::string& target, const std::string& body = {},
                                   const std::string& authorization = Admin)
    {
        return StationClient().Send(method, target, body, authorization);
    }
    std::string StatusAt(const std::string& pointer) { return JsonAt(Station(verb::get, "/api/v1/status"), pointer); }

    TestHttpClient::Result Control(verb method, const std::string& path, const std::string& body = {})
    {
        return TestHttpClient(_simulator->ControlEndpoint(), false).Send(method, path, body);
    }
    std::string ControlState(const std::string& pointer)
    {
        return JsonAt(Control(verb::get, "/control/state"), pointer);
    }
    // Posts to the control port; fails the test unless accepted.
    void AddFault(const std::string& fault) { Accepted(Control(verb::post, "/control/fault", fault)); }
    void MergeState(const std::string& patch) { Accepted(Control(verb::post, "/control/state", patch)); }
    static void Accepted(const TestHttpClient::Result& result)
    {
        EXPECT_EQ(200u, result.response.result_int()) << result.response.body() << result.error.message();
    }

    std::unique_ptr<StationSimulator> _simulator;
};

}  // namespace Simulation
}  // namespace Keldra
