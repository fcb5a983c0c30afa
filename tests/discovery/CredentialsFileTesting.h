// Helpers of the credentials file tests: a fresh directory per test, file
// contents, modes and identities, and the texts of the logged paths.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

namespace Keldra {
namespace Testing {

// A new empty directory, removed with everything in it at destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory()
        : _path(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("keldra-test-%%%%-%%%%-%%%%"))
    {
        boost::filesystem::create_directory(_path);
    }
    ~TemporaryDirectory()
    {
        boost::system::error_code ignored;
        boost::filesystem::permissions(_path, boost::filesystem::owner_all, ignored);
        boost::filesystem::remove_all(_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const boost::filesystem::path& Path() const { return _path; }

private:
    boost::filesystem::path _path;
};

// Sets the process's umask for the lifetime of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : _previous(umask(mask)) {}
    ~ScopedUmask() { umask(_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t _previous;
};

inline std::string ReadBytes(const boost::filesystem::path& path)
{
    boost::filesystem::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

inline void WriteBytes(const boost::filesystem::path& path, const std::string& content)
{
    boost::filesystem::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    ASSERT_TRUE(file.good()) << path;
}

// Writes the content and gives the file the last-write time.
inline void WriteBytes(const boost::filesystem::path& path, const std::string& content, std::time_t lastWriteTime)
{
    WriteBytes(path, content);
    boost::filesystem::last_write_time(path, lastWriteTime);
}

inline struct stat Status(const boost::filesystem::path& path)
{
    struct stat status {};
    EXPECT_EQ(0, stat(path.c_str(), &status)) << path;
    return status;
}

inline mode_t PermissionBits(const boost::filesystem::path& path) { return Status(path).st_mode & 07777; }

// The path as log lines show it: in double quotes.
inline std::string Quoted(const boost::filesystem::path& path)
{
    std::ostringstream text;
    text << path;
    return text.str();
}

// The names in a directory.
inline std::vector<std::string> Listing(const boost::filesystem::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The text of the initial credentials file, byte for byte.
inline std::string InitialFile()
{
    return "{\n"
           "  \"baseStations\" : [\n"
           "    {\n"
           "      \"index\" : 0\n"
           "    },\n"
           "    {\n"
           "      \"index\" : 1\n"
           "    },\n"
           "    {\n"
           "      \"index\" : 2\n"
           "    },\n"
           "    {\n"
           "      \"index\" : 3\n"
           "    },\n"
           "    {\n"
           "      \"index\" : 4\n"
           "    }\n"
           "  ]\n"
           "}\n";
}

}  // namespace Testing
}  // namespace Keldra
