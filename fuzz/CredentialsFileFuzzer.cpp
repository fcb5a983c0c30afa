// The credentials file as the plug-in re-reads it: the input is the file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "OruLogging.h"
#include "discovery/KeldraConfigurationReader.h"

namespace {

// In memory where there is /dev/shm: the file is written for every input.
std::string TemporaryDirectory()
{
    for (std::string directory : {"/dev/shm/keldra-fuzz-credentials-XXXXXX", "/tmp/keldra-fuzz-credentials-XXXXXX"}) {
        if (::mkdtemp(&directory[0]) != nullptr) {
            return directory;
        }
    }
    std::abort();
}

// Removed again when the fuzzer ends.
struct TemporaryFile {
    boost::filesystem::path directory = TemporaryDirectory();
    boost::filesystem::path path = directory / "orubasestationconfig.json";
    ~TemporaryFile()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(directory, ignored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const TemporaryFile file = [] {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::OFF_LOG_LEVEL);
        return TemporaryFile();
    }();
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
