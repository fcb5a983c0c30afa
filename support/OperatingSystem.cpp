#include "OperatingSystem.h"

#include <exception>

#include "Assert.h"

namespace Oru {
namespace {
// The registered instance; created and destroyed on the host's thread.
OperatingSystem* instance = nullptr;
}  // namespace

OperatingSystem::OperatingSystem(UTF8Span name) : _name(name)
{
    if (instance == nullptr) {
        instance = this;
        return;
    }
    ORU_LOG_FATAL("Detected duplicate instance of Oru::OperatingSystem. Old name: " << instance->_name
                                                                                     << ", new name: " << _name);
    std::terminate();
}

OperatingSystem::~OperatingSystem()
{
    ORU_ASSERT2(instance);
    instance = nullptr;
}

}  // namespace Oru
