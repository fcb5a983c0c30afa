// The HTTP requests of the gateway's configuration page, as its server reads
// and answers them, with a product web service that answers every way a
// service can: a response (the parameters), an error code, no answer, or
// an exception.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ConfigurationPageServer.h"
#include "HttpRequestInput.h"
#include "OruLogging.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ProductWebService service;
    static const bool quiet = [] {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::OFF_LOG_LEVEL);
        return true;
    }();
    static_cast<void>(quiet);
    const auto request = Keldra::Fuzzing::ReadHttpRequest(data, size, 8 * 1024,
                                                          Oru::ConfigurationPageServer::MaximumBodySize);
    if (request) {
        static_cast<void>(Oru::ConfigurationPageServer::Respond(*request, service));
    }
    return 0;
}
