// What the host adds to its configuration page beside the plug-in's
// credentials form: markup, the files that markup loads, and requests.
#pragma once

#include <string>

#include <rapidjson/document.h>

#include "ProductWebService.h"

namespace Oru {

struct PageFile {
    const char* contentType;
    const std::string* body;
};

class IPageExtension {
public:
    virtual ~IPageExtension() = default;
    // Inserted at the end of the page's body; loads scripts and styles only
    // from PageFile paths (the page allows no other source).
    virtual std::string Markup() const = 0;
    // A file served under `path` ("/live.js"); no body when there is none.
    virtual PageFile FindFile(const std::string& path) const = 0;
    // A request of the page's script, POST /host/<request>; answered as the
    // product web service's requests are.
    virtual ProductWebServiceResult HandleRequest(const std::string& request, const rapidjson::Value& parameters) = 0;
};

}  // namespace Oru
