// A credentials file of a fuzz target's own, in memory where there is
// /dev/shm (it is written for every input), removed when the fuzzer ends.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

namespace Keldra::Fuzzing {

struct TemporaryCredentialsFile {
    explicit TemporaryCredentialsFile(const std::string& target) : directory(MakeDirectory(target)) {}
    ~TemporaryCredentialsFile()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(directory, ignored);
    }
    TemporaryCredentialsFile(const TemporaryCredentialsFile&) = delete;
    TemporaryCredentialsFile& operator=(const TemporaryCredentialsFile&) = delete;

    const boost::filesystem::path directory;
    const boost::filesystem::path path = directory / "orubasestationconfig.json";

private:
    static std::string MakeDirectory(const std::string& target)
    {
        for (const char* base : {"/dev/shm/", "/tmp/"}) {
            std::string directory = base + ("keldra-fuzz-" + target + "-XXXXXX");
            if (::mkdtemp(&directory[0]) != nullptr) {
                return directory;
            }
        }
        std::abort();
    }
};

}  // namespace Keldra::Fuzzing
