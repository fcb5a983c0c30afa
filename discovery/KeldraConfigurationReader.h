// The credentials file: creates the initial file when there is none, reads
// and checks the file, and keeps the credentials of the last file that read
// successfully.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <map>
#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/optional.hpp>
#include <rapidjson/document.h>

#include "BaseStationsWithCredentialsConfig.h"
#include "IKeldraConfigurationReader.h"
#include "support/Function.h"
#include "support/HighLevelJson/Struct.h"

namespace Keldra {

class KeldraConfigurationReader final : public IKeldraConfigurationReader {
public:
    using ConfigHandler =
        Oru::function<void(Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type, std::time_t)>;

    // A larger file is rejected unread.
    static constexpr std::size_t MaximumFileSize = 1024 * 1024;

    // Creates the directory (one level) and the initial file when missing;
    // does not read the file yet.
    explicit KeldraConfigurationReader(const boost::filesystem::path& path);

    boost::optional<Credentials> GetCredentials(unsigned char index) override;
    // Reads the file again unless its last-write time is older than the one
    // of the last successful read.
    void UpdateCredentials() override;

    // Never throws: a failure is logged and the file is left missing.
    static void CreateDefaultConfigIfMissing(const boost::filesystem::path& path);
    enum class FileFault { None, Open, Content };
    // The file as JSON, or why it cannot be used.
    struct FileContent {
        FileFault fault = FileFault::None;
        std::string problem;  // for the user: "it is not valid JSON (...)"
        rapidjson::Document document;
        std::time_t lastWriteTime = 0;
        mode_t mode = 0;  // permission bits
    };
    // A regular file, not reached through a symbolic link, of at most
    // MaximumFileSize bytes, holding a JSON object.
    static FileContent LoadFile(const boost::filesystem::path& path);
    // Calls the handler with the parsed file and its last-write time (and
    // sets *mode to its permission bits); a file that LoadFile refuses is
    // logged and the handler is not called.
    static void ReadConfiguration(const boost::filesystem::path& path, const ConfigHandler& handler,
                                  mode_t* mode = nullptr);

private:
    void OnConfigurationRead(Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type result,
                             std::time_t lastWriteTime);

    boost::filesystem::path _path;
    std::time_t _lastWriteTime = 0;
    std::map<unsigned char, Credentials> _credentials;
    bool _permissionsWarned = false;
};

}  // namespace Keldra
