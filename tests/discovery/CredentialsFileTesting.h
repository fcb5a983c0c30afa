// What the credentials file tests share: a fixture with a fresh directory,
// the file's path in it and the log, file contents and modes, the exact
// bytes of the file, and the credentials a fresh reader finds.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "tests/testing/LogCapture.h"
#include "discovery/KeldraConfigurationReader.h"
#include "discovery/KeldraProductWebService.h"

namespace Keldra {
namespace Testing {

inline std::string ReadBytes(const boost::filesystem::path& path)
{
    boost::filesystem::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Owner-only, as the plug-in writes it. A lastWriteTime of 0 leaves the
// time as the write made it.
inline void WriteBytes(const boost::filesystem::path& path, const std::string& content, std::time_t lastWriteTime = 0)
{
    boost::filesystem::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    boost::system::error_code ignored;  // as the writer leaves it; a FIFO or link stays as it is
    boost::filesystem::permissions(path, boost::filesystem::owner_read | boost::filesystem::owner_write, ignored);
    if (lastWriteTime != 0) {
        boost::filesystem::last_write_time(path, lastWriteTime);
    }
}

inline struct stat Status(const boost::filesystem::path& path)
{
    struct stat status {};
    EXPECT_EQ(0, stat(path.c_str(), &status)) << path;
    return status;
}

// The path as log lines show it: in double quotes.
inline std::string Quoted(const boost::filesystem::path& path)
{
    std::ostringstream text;
    text << path;
    return text.str();
}

inline std::ptrdiff_t EntryCount(const boost::filesystem::path& directory)
{
    return std::distance(boost::filesystem::directory_iterator(directory), {});
}

// "user/password", or "(none)".
inline std::string Describe(const boost::optional<Credentials>& credentials)
{
    return credentials ? credentials->username + "/" + credentials->password : "(none)";
}

// The credentials a fresh reader finds in the file.
inline std::string ReadCredentials(const boost::filesystem::path& path, unsigned char index)
{
    KeldraConfigurationReader reader(path);
    reader.UpdateCredentials();
    return Describe(reader.GetCredentials(index));
}

class NoCommonWebService final : public Oru::ICommonWebService {};

inline rapidjson::Document Json(const std::string& text)
{
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    EXPECT_FALSE(document.HasParseError()) << text;
    return document;
}

// Under a lax umask: the writer must make the file private itself.
class CredentialsFileFixture : public testing::Test {
protected:
    CredentialsFileFixture() { boost::filesystem::create_directory(_directory); }
    ~CredentialsFileFixture() override
    {
        boost::filesystem::remove_all(_directory);
        umask(_umask);
    }

    const mode_t _umask = umask(0);
    const boost::filesystem::path _directory =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("keldra-test-%%%%-%%%%-%%%%");
    boost::filesystem::path _path = _directory / "orubasestationconfig.json";
    Oru::Testing::LogCapture _log;
};

const AtomicWriteStep AllWriteSteps[] = {AtomicWriteStep::TemporaryCreated, AtomicWriteStep::ContentWritten,
                                         AtomicWriteStep::ContentSynced,    AtomicWriteStep::TemporaryClosed,
                                         AtomicWriteStep::Installed,        AtomicWriteStep::DirectorySynced};

// The credentials of index 0: "admin" and the Base64 of "secret".
const char* const AdminFile = R"({"baseStations": [{"index": 0, "username": "admin", "credentials": "c2VjcmV0"}]})";
const char* const SetIndex2 = R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0"})";

// The initial file.
const char* const InitialFile = "{\n  \"baseStations\" : [\n    {\n      \"index\" : 0\n    },\n    {\n"
                                "      \"index\" : 1\n    },\n    {\n      \"index\" : 2\n    },\n    {\n"
                                "      \"index\" : 3\n    },\n    {\n      \"index\" : 4\n    }\n  ]\n}\n";

}  // namespace Testing
}  // namespace Keldra
