// The host's ETS parameter file: any text gives parameters and line errors.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "platform/host/EtsParameterFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    static_cast<void>(Oru::ParseEtsParameters(input));
    return 0;
}
