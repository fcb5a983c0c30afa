#include "PluginLibrary.h"

#include <dlfcn.h>

#include <cstring>

namespace Oru {
namespace {

// dlsym gives an object pointer; the entry point is a function pointer of
// the same size.
template <typename Function>
bool Resolve(void* handle, const char* name, Function& function, std::string& error)
{
    ::dlerror();
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        const char* reason = ::dlerror();
        error = std::string("the plug-in has no entry point ") + name + (reason != nullptr ? std::string(": ") + reason : "");
        return false;
    }
    static_assert(sizeof(Function) == sizeof(void*), "function pointers are object pointers on this platform");
    std::memcpy(&function, &symbol, sizeof function);
    return true;
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path, std::string& error)
{
    // Never unmapped: what the plug-in's libraries leave for the end of the
    // process (exit handlers, thread-local destructors, caches their globals
    // hold) still finds its code and data then.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = "cannot load the plug-in '" + path + "': " + (reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    std::unique_ptr<PluginLibrary> library(new PluginLibrary(handle));
    if (!Resolve(handle, "createOruApp", library->createOruApp, error) ||
        !Resolve(handle, "deleteOruApp", library->deleteOruApp, error) ||
        !Resolve(handle, "CreateProductWebService", library->createProductWebService, error)) {
        return nullptr;
    }
    return library;
}

PluginLibrary::PluginLibrary(void* handle) : _handle(handle) {}

PluginLibrary::~PluginLibrary() { ::dlclose(_handle); }

}  // namespace Oru
