// The credentials file as the plug-in re-reads it: the input is the file.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/host/OruLogging.h"
#include "TemporaryCredentialsFile.h"
#include "discovery/KeldraConfigurationReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::OFF_LOG_LEVEL);
        return true;
    }();
    static_cast<void>(quiet);
    static const Keldra::Fuzzing::TemporaryCredentialsFile file("credentials");
    const auto& path = file.path;
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
