// The gateway's product web service: the host forwards requests of its
// configuration pages to the plug-in's IProductWebService.
#pragma once

#include <string>
#include <variant>

#include <rapidjson/document.h>

namespace Oru {

// Services the host offers to product web services (none are needed yet).
class ICommonWebService {
public:
    virtual ~ICommonWebService() = default;
};

// The answer to one request: no answer (the request is not this service's),
// an error code shown to the user, or a response object.
using ProductWebServiceResult = std::variant<std::monostate, std::string, rapidjson::Document>;

class IProductWebService {
public:
    virtual ~IProductWebService() = default;
    // parameters is the request's JSON object (any JSON value from the page).
    virtual ProductWebServiceResult HandleRequest(const std::string& request,
                                                  const rapidjson::Value& parameters) = 0;
};

}  // namespace Oru
