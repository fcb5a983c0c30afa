// The HTTP requests of the gateway's configuration page, as its server reads
// and answers them, with a product web service that answers every way a
// service can: a response (the parameters), an error code, no answer, or
// an exception. The first input byte decides whether the request is made to
// pass the server's own checks (its Host, then also its origin, JSON content
// type and page token), so that the service calls behind them are reached.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <boost/asio/io_service.hpp>

#include "platform/host/ConfigurationPageServer.h"
#include "HttpRequestInput.h"
#include "platform/host/OruLogging.h"

namespace {

class ProductWebService final : public Oru::IProductWebService {
public:
    Oru::ProductWebServiceResult HandleRequest(const std::string& request,
                                               const rapidjson::Value& parameters) override
    {
        if (request == "echo") {
            rapidjson::Document answer;
            answer.CopyFrom(parameters, answer.GetAllocator());
            return answer;
        }
        if (request == "fail") {
            return std::string("RQE002");
        }
        if (request == "throw") {
            throw std::runtime_error("thrown by the service");
        }
        return std::monostate{};
    }
};

struct Server {
    boost::asio::io_service ioService;
    ProductWebService service;
    Oru::ConfigurationPageServer server{ioService, service};
    std::string host;
    std::string token;

    Server()
    {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::OFF_LOG_LEVEL);
        // Listening only fixes the server's own Host; nothing connects.
        if (server.Listen(0)) {
            throw std::runtime_error("cannot listen on loopback");
        }
        host = "127.0.0.1:" + std::to_string(server.GetPort());
        Oru::ConfigurationPageServer::Request page(boost::beast::http::verb::get, "/", 11);
        page.set(boost::beast::http::field::host, host);
        const std::string body = server.Respond(page).body();
        const std::string marker = "name=\"page-token\" content=\"";
        const auto start = body.find(marker);
        if (start != std::string::npos) {
            token = body.substr(start + marker.size(), body.find('"', start + marker.size()) - start - marker.size());
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Server page;
    if (size == 0) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    auto request = Keldra::Fuzzing::ReadHttpRequest(data + 1, size - 1, 8 * 1024,
                                                    Oru::ConfigurationPageServer::MaximumBodySize);
    if (!request) {
        return 0;
    }
    if (mode & 1) {
        request->set(boost::beast::http::field::host, page.host);
    }
    if (mode & 2) {
        request->set(boost::beast::http::field::origin, "http://" + page.host);
        request->set(boost::beast::http::field::content_type, "application/json");
        request->set("X-Page-Token", page.token);
    }
    static_cast<void>(page.server.Respond(*request));
    return 0;
}
