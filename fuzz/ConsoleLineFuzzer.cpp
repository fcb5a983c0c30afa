// One line of the host's bus console.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host/ConsoleCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static_cast<void>(Oru::ParseConsoleLine(std::string(reinterpret_cast<const char*>(data), size)));
    return 0;
}
