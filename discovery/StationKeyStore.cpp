#include "StationKeyStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <rapidjson/document.h>

#include "AtomicFileWriter.h"
#include "platform/host/OruLogging.h"
#include "support/HighLevelJson/PrettyJsonWriter.h"

namespace Keldra {

std::mutex StationKeyStore::s_mutex;

namespace {

constexpr std::size_t s_maximumFileSize = 64 * 1024;

// What tells one version of the file from another without reading it: an
// atomic rewrite makes a new inode, an edit in place changes the times.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileVersion Of(const struct stat& status)
    {
        return FileVersion{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
    }
    bool operator==(const FileVersion& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

// The entries last read, so that the key check before every request costs
// one stat of the file instead of reading and parsing it.
struct ReadCache {
    boost::filesystem::path path;
    FileVersion version;
    std::vector<StationKeyStore::Entry> entries;
};
ReadCache s_cache;

// The file's text and version; empty when it does not exist, none when it
// cannot be read.
boost::optional<std::string> ReadText(const boost::filesystem::path& path, FileVersion& version)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0) {
        return errno == ENOENT ? boost::optional<std::string>(std::string()) : boost::none;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        close(descriptor);
        return boost::none;
    }
    version = FileVersion::Of(status);
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(descriptor, buffer, sizeof buffer)) > 0 && text.size() <= s_maximumFileSize) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    close(descriptor);
    if (count < 0 || text.size() > s_maximumFileSize) {
        return boost::none;
    }
    return text;
}

std::string Member(const rapidjson::Value& object, const char* name)
{
    const auto member = object.FindMember(name);
    return member != object.MemberEnd() && member->value.IsString() ? member->value.GetString() : std::string();
}

boost::optional<std::vector<StationKeyStore::Entry>> Parse(const std::string& text)
{
    std::vector<StationKeyStore::Entry> entries;
    if (text.empty()) {
        return entries;
    }
    rapidjson::Document document;
    document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    if (document.HasParseError() || !document.IsObject() || !document.HasMember("stations") ||
        !document["stations"].IsArray()) {
        return boost::none;
    }
    for (const auto& station : document["stations"].GetArray()) {
        if (!station.IsObject()) {
            return boost::none;
        }
        StationKeyStore::Entry entry{Member(station, "stationId"), Member(station, "fingerprint"),
                                     Member(station, "presented")};
        if (entry.stationId.empty() || entry.fingerprint.empty()) {
            return boost::none;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string Generate(const std::vector<StationKeyStore::Entry>& entries)
{
    return Oru::WritePrettyJson(StationKeyStore::ToJson(entries)) + "\n";
}

std::vector<StationKeyStore::Entry>::iterator Find(std::vector<StationKeyStore::Entry>& entries,
                                                   const std::string& stationId)
{
    return std::find_if(entries.begin(), entries.end(),
                        [&stationId](const StationKeyStore::Entry& entry) { return entry.stationId == stationId; });
}

}  // namespace

StationKeyStore StationKeyStore::BesideCredentials(const boost::filesystem::path& credentialsFile)
{
    return StationKeyStore(credentialsFile.parent_path() / FileName);
}

boost::optional<std::vector<StationKeyStore::Entry>> StationKeyStore::Read() const
{
    std::lock_guard<std::mutex> lock(s_mutex);
    return ReadLocked();
}

boost::optional<std::vector<StationKeyStore::Entry>> StationKeyStore::ReadLocked() const
{
    struct stat status {};
    if (lstat(_path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && s_cache.path == _path &&
        s_cache.version == FileVersion::Of(status)) {
        return s_cache.entries;
    }
    FileVersion version;
    const auto text = ReadText(_path, version);
    auto entries = text ? Parse(*text) : boost::none;
    if (!entries) {
        ORU_LOG_ERROR("Cannot read the station key file " << _path << ": its keys are not used");
    }
    if (entries && !text->empty()) {
        s_cache = ReadCache{_path, version, *entries};
    }
    return entries;
}

boost::optional<std::string> StationKeyStore::Trusted(const std::string& stationId) const
{
    std::lock_guard<std::mutex> lock(s_mutex);
    auto entries = ReadLocked();
    if (!entries) {
        return boost::none;
    }
    const auto found = Find(*entries, stationId);
    return found == entries->end() ? boost::none : boost::optional<std::string>(found->fingerprint);
}

template <typename Change>
bool StationKeyStore::Update(const Change& change) const
{
    std::lock_guard<std::mutex> lock(s_mutex);
    auto entries = ReadLocked();
    if (!entries) {
        return false;
    }
    if (!change(*entries)) {
        return true;
    }
    const auto error = WriteFileAtomically(_path, Generate(*entries), AtomicWriteMode::ReplaceExisting);
    if (error) {
        ORU_LOG_ERROR("Failed to write the station key file " << _path << ": " << Oru::LogEntryFormatter(error));
        return false;
    }
    return true;
}

void StationKeyStore::Remember(const std::string& stationId, const std::string& fingerprint) const
{
    Update([&](std::vector<Entry>& entries) {
        if (Find(entries, stationId) != entries.end()) {
            return false;
        }
        ORU_LOG_INFO("Base station " << stationId << " is trusted from its first contact with key " << fingerprint);
        entries.push_back(Entry{stationId, fingerprint, std::string()});
        return true;
    });
}

void StationKeyStore::RecordPresented(const std::string& stationId, const std::string& fingerprint) const
{
    Update([&](std::vector<Entry>& entries) {
        const auto found = Find(entries, stationId);
        if (found == entries.end() || found->presented == fingerprint || found->fingerprint == fingerprint) {
            return false;
        }
        found->presented = fingerprint;
        return true;
    });
}

bool StationKeyStore::Accept(const std::string& stationId, const std::string& fingerprint) const
{
    bool accepted = false;
    const bool stored = Update([&](std::vector<Entry>& entries) {
        const auto found = Find(entries, stationId);
        if (found == entries.end() || fingerprint.empty() || found->presented != fingerprint) {
            return false;
        }
        ORU_LOG_INFO("Base station " << stationId << " is trusted with its new key " << fingerprint);
        found->fingerprint = fingerprint;
        found->presented.clear();
        accepted = true;
        return true;
    });
    return stored && accepted;
}

rapidjson::Document StationKeyStore::ToJson(const std::vector<Entry>& entries)
{
    rapidjson::Document document(rapidjson::kObjectType);
    auto& allocator = document.GetAllocator();
    rapidjson::Value stations(rapidjson::kArrayType);
    for (const auto& entry : entries) {
        rapidjson::Value station(rapidjson::kObjectType);
        station.AddMember("stationId", rapidjson::Value(entry.stationId.c_str(), allocator), allocator);
        station.AddMember("fingerprint", rapidjson::Value(entry.fingerprint.c_str(), allocator), allocator);
        if (!entry.presented.empty()) {
            station.AddMember("presented", rapidjson::Value(entry.presented.c_str(), allocator), allocator);
        }
        stations.PushBack(station, allocator);
    }
    document.AddMember("stations", stations, allocator);
    return document;
}

}  // namespace Keldra
