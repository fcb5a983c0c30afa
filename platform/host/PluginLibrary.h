// A gateway plug-in loaded with dlopen, as the gateway loads one: the shared
// library and its three entry points.
#pragma once

#include <memory>
#include <string>

#include "ProductWebService.h"
#include "app/OruApp.h"

namespace Oru {

class PluginLibrary {
public:
    using CreateApp = OruApp::IOruApp* (*)();
    using DeleteApp = void (*)(OruApp::IOruApp*);
    using CreateWebService = IProductWebService* (*)(ICommonWebService&);

    // The library with all three entry points resolved, or empty with the
    // reason in *error (dlopen's or the missing symbol's).
    static std::unique_ptr<PluginLibrary> Load(const std::string& path, std::string& error);

    // Closes the library; it stays mapped until the process ends. Everything
    // made by it must be gone by then.
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    CreateApp createOruApp = nullptr;
    DeleteApp deleteOruApp = nullptr;
    CreateWebService createProductWebService = nullptr;

private:
    explicit PluginLibrary(void* handle);

    void* _handle;
};

}  // namespace Oru
