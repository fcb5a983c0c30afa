// The credentials file as the plug-in re-reads it: the input is the file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>

#include "OruLogging.h"
#include "discovery/KeldraConfigurationReader.h"

namespace {

std::string TemporaryDirectory()
{
    char directory[] = "/tmp/keldra-fuzz-credentials-XXXXXX";
    if (::mkdtemp(directory) == nullptr) {
        std::abort();
    }
    return directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const boost::filesystem::path path = [] {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::OFF_LOG_LEVEL);
        return boost::filesystem::path(TemporaryDirectory()) / "orubasestationconfig.json";
    }();
    std::ofstream(path.string(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    // A new reader each time, so that no input depends on the ones before.
    Keldra::KeldraConfigurationReader reader(path);
    reader.UpdateCredentials();
    for (unsigned char index = 0; index < 5; ++index) {
        static_cast<void>(reader.GetCredentials(index));
    }
    return 0;
}
