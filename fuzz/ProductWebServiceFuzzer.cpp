// The plug-in's product web service as the configuration page calls it.
// The first byte chooses the request (even: "setBaseStationConfig", odd:
// "getBaseStationConfig"), the rest is its JSON parameters. Every input
// starts from the initial credentials file; a change is followed by a
// listing, which reads the file the change wrote.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <rapidjson/document.h>

#include "platform/host/OruLogging.h"
#include "TemporaryCredentialsFile.h"
#include "discovery/KeldraProductWebService.h"

namespace {

class CommonWebService final : public Oru::ICommonWebService {};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::OFF_LOG_LEVEL);
        return true;
    }();
    static_cast<void>(quiet);
    static const Keldra::Fuzzing::TemporaryCredentialsFile file("product-web-service");
    const auto& path = file.path;
    if (size == 0) {
        return 0;
    }
    rapidjson::Document parameters;
    parameters.Parse<rapidjson::kParseIterativeFlag>(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (parameters.HasParseError()) {
        return 0;
    }
    boost::system::error_code ignored;
    boost::filesystem::remove(path, ignored);
    CommonWebService common;
    Keldra::KeldraProductWebService service(common, path);
    if (data[0] % 2 == 0) {
        static_cast<void>(service.HandleRequest("setBaseStationConfig", parameters));
    }
    static_cast<void>(service.HandleRequest("getBaseStationConfig", parameters));
    return 0;
}
