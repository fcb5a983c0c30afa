#include "KeldraConfigurationReader.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "AtomicFileWriter.h"
#include "platform/host/OruLogging.h"
#include "support/UTF8String.h"

namespace Keldra {
namespace {

const char* const InitialConfiguration =
    "{\n"
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

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : _descriptor(descriptor) {}
    ~FileDescriptor()
    {
        if (_descriptor >= 0) {
            close(_descriptor);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return _descriptor; }

private:
    int _descriptor;
};

// The whole content of a regular file of at most maximumSize bytes.
boost::optional<std::string> ReadLimited(int descriptor, std::size_t maximumSize)
{
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t result = read(descriptor, buffer, sizeof buffer);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return boost::none;
        }
        if (result == 0) {
            return content;
        }
        if (content.size() + static_cast<std::size_t>(result) > maximumSize) {
            return boost::none;
        }
        content.append(buffer, static_cast<std::size_t>(result));
    }
}

bool IsBase64Character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard Base64, leniently: decoding stops at the first "=" or at the
// first character outside the alphabet; a final group of two or three
// characters gives one or two bytes, a single leftover character none.
std::string DecodeBase64(const std::string& text)
{
    const auto end = std::find_if_not(text.begin(), text.end(), IsBase64Character);
    const std::string usable(text.begin(), end);
    const std::size_t fullGroupsLength = usable.size() / 4 * 4;
    const std::size_t leftover = usable.size() - fullGroupsLength;

    std::string decoded(fullGroupsLength / 4 * 3 + 3, '\0');
    auto* output = reinterpret_cast<unsigned char*>(&decoded[0]);
    std::size_t length = 0;
    if (fullGroupsLength > 0) {
        // Only alphabet characters in groups of four: the decoding cannot fail.
        const int written = EVP_DecodeBlock(output, reinterpret_cast<const unsigned char*>(usable.data()),
                                            static_cast<int>(fullGroupsLength));
        length = static_cast<std::size_t>(std::max(written, 0));
    }
    if (leftover >= 2) {
        std::string group = usable.substr(fullGroupsLength);
        group.append(4 - leftover, '=');
        unsigned char bytes[3];
        EVP_DecodeBlock(bytes, reinterpret_cast<const unsigned char*>(group.data()), 4);
        std::copy(bytes, bytes + leftover - 1, output + length);
        length += leftover - 1;
    }
    decoded.resize(length);
    return decoded;
}

}  // namespace

KeldraConfigurationReader::KeldraConfigurationReader(const boost::filesystem::path& path) : _path(path)
{
    CreateDefaultConfigIfMissing(_path);
}

void KeldraConfigurationReader::CreateDefaultConfigIfMissing(const boost::filesystem::path& path)
{
    boost::system::error_code error;
    const auto directory = path.parent_path();
    if (!directory.empty() && !boost::filesystem::exists(directory, error)) {
        if (boost::filesystem::create_directory(directory, error)) {
            ORU_LOG_INFO("Created directory '" << directory << "'!");
        } else if (error) {
            ORU_LOG_ERROR("Could not create directory '" << directory << "': " << Oru::LogEntryFormatter(error));
            ORU_LOG_ERROR("Failed to create initial empty configuration '" << path << "'!");
            return;
        }
    }
    if (boost::filesystem::is_regular_file(path, error)) {
        return;
    }
    ORU_LOG_INFO("Creating initial empty configuration '" << path << "'!");
    error = WriteFileAtomically(path, InitialConfiguration, AtomicWriteMode::CreateNew);
    if (error) {
        ORU_LOG_ERROR("Failed to create initial empty configuration '" << path << "'!");
    }
}

KeldraConfigurationReader::FileContent KeldraConfigurationReader::LoadFile(const boost::filesystem::path& path)
{
    FileContent content;
    // Non-blocking so that a FIFO put in the file's place cannot stall us.
    // Deliberate: a symbolic link planted in the configuration directory is not followed.
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat status {};
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0) {
        content.fault = FileFault::Open;
        content.problem = errno == ELOOP ? std::string("it is a symbolic link, which is not followed")
                                         : "it cannot be opened (" + std::string(std::strerror(errno)) + ")";
        return content;
    }
    if (!S_ISREG(status.st_mode)) {
        content.fault = FileFault::Open;
        content.problem = "it is not a regular file";
        return content;
    }
    content.lastWriteTime = status.st_mtime;
    content.mode = status.st_mode & 07777;

    // Deliberate: at most 1 MiB, parsed iteratively; a larger file keeps the previous table.
    const auto text = static_cast<std::size_t>(status.st_size) > MaximumFileSize
                          ? boost::none
                          : ReadLimited(file.Get(), MaximumFileSize);
    content.fault = FileFault::Content;
    if (!text) {
        content.problem = "it is larger than " + std::to_string(MaximumFileSize) + " bytes or cannot be read";
        return content;
    }
    // Iterative: deep nesting cannot exhaust the stack.
    content.document.Parse<rapidjson::kParseIterativeFlag>(text->data(), text->size());
    if (content.document.HasParseError()) {
        std::string reason = rapidjson::GetParseError_En(content.document.GetParseError());
        reason.erase(reason.find_last_not_of('.') + 1);
        content.problem =
            "it is not valid JSON (" + reason + " at byte " + std::to_string(content.document.GetErrorOffset()) + ")";
        return content;
    }
    if (!content.document.IsObject()) {
        content.problem = "it does not hold a JSON object";
        return content;
    }
    content.fault = FileFault::None;
    return content;
}

void KeldraConfigurationReader::ReadConfiguration(const boost::filesystem::path& path, const ConfigHandler& handler,
                                                  mode_t* mode)
{
    const auto content = LoadFile(path);
    if (content.fault == FileFault::Open) {
        ORU_LOG_ERROR("Could not open the config file '" << path << "'!");
        return;
    }
    if (content.fault == FileFault::Content) {
        ORU_LOG_ERROR("Failed to read the config file '" << path << "'!");
        return;
    }
    if (mode != nullptr) {
        *mode = content.mode;
    }
    handler(Oru::JsonParser<BaseStationsWithCredentialsConfig>::Parse(content.document), content.lastWriteTime);
}

void KeldraConfigurationReader::UpdateCredentials()
{
    boost::system::error_code error;
    const std::time_t currentWriteTime = boost::filesystem::last_write_time(_path, error);
    if (error) {
        ORU_LOG_ERROR("Could not open the config file '" << _path << "'!");
        return;
    }
    if (_lastWriteTime > currentWriteTime) {
        return;
    }
    mode_t mode = 0;
    ReadConfiguration(
        _path,
        [this](Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type result, std::time_t lastWriteTime) {
            OnConfigurationRead(std::move(result), lastWriteTime);
        },
        &mode);
    // Deliberate: warned once; the next rewrite makes it owner-only.
    if ((mode & (S_IRWXG | S_IRWXO)) != 0 && !_permissionsWarned) {
        _permissionsWarned = true;
        ORU_LOG_WARN("The config file '" << _path << "' is open to other users than its owner (mode "
                                         << std::oct << mode << std::dec
                                         << "); it becomes owner-only when it is next changed");
    }
}

void KeldraConfigurationReader::OnConfigurationRead(
    Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type result, std::time_t lastWriteTime)
{
    if (const auto* mismatch = Oru::GetMismatch(result)) {
        ORU_LOG_ERROR("Failed to read the config file '" << _path << "': " << *mismatch);
        return;
    }
    _lastWriteTime = lastWriteTime;
    _credentials.clear();
    for (const auto& entry : boost::get<BaseStationsWithCredentialsConfig>(result).baseStations) {
        if (!entry.username || !entry.credentials) {
            continue;
        }
        auto password = Oru::UTF8String::Create(DecodeBase64(entry.credentials->Get()));
        if (!password) {
            ORU_LOG_ERROR("Sanity check of credential hash failed!");
            continue;
        }
        // An index met before keeps its credentials.
        _credentials.emplace(entry.index, Credentials{entry.username->Get(), password->Get()});
    }
}

boost::optional<Credentials> KeldraConfigurationReader::GetCredentials(unsigned char index)
{
    const auto found = _credentials.find(index);
    if (found == _credentials.end()) {
        return boost::none;
    }
    return found->second;
}

}  // namespace Keldra
