#include "KeldraProductWebService.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include "KeldraConfigurationReader.h"
#include "platform/host/OruLogging.h"
#include "support/HighLevelJson/PrettyJsonWriter.h"
#include "support/HighLevelJson/Struct.h"

namespace Keldra {

// A station as the configuration pages see it: the password itself never
// leaves the plug-in, only whether one is stored.
struct KeldraProductWebService::BaseStation {
    unsigned char index;
    boost::optional<Oru::UTF8String> username;
    boost::optional<bool> credentials;

    rapidjson::Value Generate(Oru::JsonAllocator& allocator) const
    {
        rapidjson::Value object(rapidjson::kObjectType);
        Oru::GenerateStructElement(object, "index", index, allocator);
        Oru::GenerateStructElement(object, "username", username, allocator);
        Oru::GenerateStructElement(object, "credentials", credentials, allocator);
        return object;
    }
};

struct KeldraProductWebService::BaseStationsConfig {
    std::vector<BaseStation> baseStations;
};

namespace {

const char* const ParametersMismatch = "RQE002";
const char* const StoreFailed = "RQE003";
const char* const IncompleteCredentials = "RQE004";

bool IsBase64Character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Strict standard Base64: groups of four alphabet characters, the last one
// padded with at most two "="; the decoded bytes, none when not Base64.
boost::optional<std::string> DecodeStrictBase64(const std::string& text)
{
    const std::size_t padding = text.size() - std::min(text.find_last_not_of('=') + 1, text.size());
    if (text.empty() || text.size() % 4 != 0 || padding > 2 ||
        !std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding), IsBase64Character)) {
        return boost::none;
    }
    std::string decoded(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&decoded[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) {
        return boost::none;
    }
    decoded.resize(static_cast<std::size_t>(length) - padding);
    return decoded;
}

bool IsTooLong(const boost::optional<Oru::UTF8String>& text)
{
    return text && text->size() > KeldraProductWebService::MaximumTextLength;
}

rapidjson::Document EmptyObject()
{
    rapidjson::Document document;
    document.SetObject();
    return document;
}

}  // namespace

KeldraProductWebService::KeldraProductWebService(Oru::ICommonWebService& commonWebService,
                                                 const boost::filesystem::path& path,
                                                 AtomicWriteObserver writeObserver)
    : _commonWebService(commonWebService),
      _path(path),
      _writeObserver(std::move(writeObserver)),
      _stationKeys(StationKeyStore::BesideCredentials(path))
{
    KeldraConfigurationReader::CreateDefaultConfigIfMissing(_path);
}

Oru::ProductWebServiceResult KeldraProductWebService::HandleRequest(const std::string& request,
                                                                    const rapidjson::Value& parameters)
{
    if (request == "getBaseStationConfig") {
        return GetBaseStationConfig();
    }
    if (request == "setBaseStationConfig") {
        return SetBaseStationConfig(parameters);
    }
    if (request == "getStationKeys") {
        return GetStationKeys();
    }
    if (request == "acceptStationKey") {
        return AcceptStationKey(parameters);
    }
    if (request == "getBaseStationConfigFile") {
        return GetBaseStationConfigFile();
    }
    if (request == "resetBaseStationConfig") {
        return ResetBaseStationConfig();
    }
    return std::monostate();
}

std::string KeldraProductWebService::CredentialsProblem(const boost::optional<Oru::UTF8String>& username,
                                                       const boost::optional<Oru::UTF8String>& credentials)
{
    if (username) {
        const auto& name = username->Get();
        if (name.empty()) {
            return "the user name is empty";
        }
        if (name.find(':') != std::string::npos) {
            return "the user name contains ':'";
        }
        if (std::any_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
            return "the user name contains a control character";
        }
    }
    if (credentials) {
        if (credentials->Get().empty()) {
            return "the password is empty";
        }
        const auto password = DecodeStrictBase64(credentials->Get());
        if (!password) {
            return "the password is not valid Base64";
        }
        if (!Oru::UTF8String::Create(*password)) {
            return "the password is not UTF-8 text";
        }
    }
    return std::string();
}

Oru::ProductWebServiceResult KeldraProductWebService::GetBaseStationConfig()
{
    const auto config = ReadConfiguration();
    if (!config) {
        return std::string(ParametersMismatch);
    }
    auto answer = EmptyObject();
    Oru::GenerateStructElement(answer, "baseStations", config->baseStations, answer.GetAllocator());
    return answer;
}

Oru::ProductWebServiceResult KeldraProductWebService::SetBaseStationConfig(const rapidjson::Value& parameters)
{
    const auto parsed = Oru::JsonParser<BaseStationWithCredentials>::Parse(parameters);
    if (Oru::GetMismatch(parsed) != nullptr) {
        return std::string(ParametersMismatch);
    }
    const auto& entry = boost::get<BaseStationWithCredentials>(parsed);
    if (IsTooLong(entry.username) || IsTooLong(entry.credentials)) {
        return std::string(ParametersMismatch);
    }
    if (entry.username.has_value() != entry.credentials.has_value()) {
        return std::string(IncompleteCredentials);
    }
    // Deliberate: refused here, since stored they would be dropped by the reader at every re-read, or turn
    // into an empty password or a broken authorization header.
    if (!CredentialsProblem(entry.username, entry.credentials).empty()) {
        return std::string(ParametersMismatch);
    }
    if (!WriteConfiguration(entry)) {
        return std::string(StoreFailed);
    }
    return EmptyObject();
}

boost::optional<BaseStationsWithCredentialsConfig> KeldraProductWebService::ReadFile()
{
    boost::optional<BaseStationsWithCredentialsConfig> config;
    KeldraConfigurationReader::ReadConfiguration(
        _path, [this, &config](Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type result, std::time_t) {
            if (const auto* mismatch = Oru::GetMismatch(result)) {
                ORU_LOG_ERROR("Failed to read the config file '" << _path << "': " << *mismatch);
                return;
            }
            config = std::move(boost::get<BaseStationsWithCredentialsConfig>(result));
        });
    return config;
}

boost::optional<KeldraProductWebService::BaseStationsConfig> KeldraProductWebService::ReadConfiguration()
{
    const auto file = ReadFile();
    if (!file) {
        return boost::none;
    }
    BaseStationsConfig config;
    for (const auto& entry : file->baseStations) {
        BaseStation station{entry.index, boost::none, boost::none};
        if (entry.username && entry.credentials) {
            station.username = entry.username;
            station.credentials = true;
        }
        config.baseStations.push_back(std::move(station));
    }
    return config;
}

bool KeldraProductWebService::WriteConfiguration(const BaseStationWithCredentials& entry)
{
    auto config = ReadFile();
    if (!config) {
        return false;
    }
    auto& entries = config->baseStations;
    const auto hasIndex = [&entry](const BaseStationWithCredentials& other) { return other.index == entry.index; };
    const auto found = std::find_if(entries.begin(), entries.end(), hasIndex);
    if (found == entries.end()) {
        ORU_LOG_ERROR("BaseStation was not found in configuration: " << static_cast<unsigned int>(entry.index)
                                                                     << ".");
        return false;
    }
    if (found->username == entry.username && found->credentials == entry.credentials) {
        return true;
    }
    // Deliberate: a change removes every entry of its index.
    // Every entry of the index goes: a later duplicate left in place would
    // come before the changed entry and shadow it.
    entries.erase(std::remove_if(entries.begin(), entries.end(), hasIndex), entries.end());
    entries.push_back(entry);
    return WriteNewConfigFile(*config);
}

bool KeldraProductWebService::WriteNewConfigFile(const BaseStationsWithCredentialsConfig& config)
{
    rapidjson::Document document;
    const auto text = Oru::WritePrettyJson(config.Generate(document.GetAllocator()));
    // Deliberate: never write a file the reader would refuse; the write is atomic.
    if (text.size() > KeldraConfigurationReader::MaximumFileSize) {
        ORU_LOG_ERROR("The config file '" << _path << "' would grow beyond "
                                          << KeldraConfigurationReader::MaximumFileSize << " bytes!");
        return false;
    }
    const auto error = WriteFileAtomically(_path, text, AtomicWriteMode::ReplaceExisting, _writeObserver);
    if (error) {
        ORU_LOG_ERROR("Failed to write the config file '" << _path << "': " << Oru::LogEntryFormatter(error));
        return false;
    }
    return true;
}

}  // namespace Keldra

namespace Keldra {

Oru::ProductWebServiceResult KeldraProductWebService::GetStationKeys()
{
    const auto entries = _stationKeys.Read();
    if (!entries) {
        return std::string(ParametersMismatch);
    }
    return StationKeyStore::ToJson(*entries);
}

Oru::ProductWebServiceResult KeldraProductWebService::AcceptStationKey(const rapidjson::Value& parameters)
{
    const auto text = [&parameters](const char* name) {
        if (!parameters.IsObject()) {
            return std::string();
        }
        const auto member = parameters.FindMember(name);
        return member != parameters.MemberEnd() && member->value.IsString()
                   ? std::string(member->value.GetString(), member->value.GetStringLength())
                   : std::string();
    };
    if (!_stationKeys.Accept(text("stationId"), text("fingerprint"))) {
        return std::string(ParametersMismatch);
    }
    return EmptyObject();
}

std::string KeldraProductWebService::FileProblem() const
{
    const auto content = KeldraConfigurationReader::LoadFile(_path);
    if (content.fault != KeldraConfigurationReader::FileFault::None) {
        return content.problem;
    }
    const auto parsed = Oru::JsonParser<BaseStationsWithCredentialsConfig>::Parse(content.document);
    if (const auto* mismatch = Oru::GetMismatch(parsed)) {
        std::ostringstream text;
        text << "its content is not in the expected format: " << *mismatch;
        return text.str();
    }
    return std::string();
}

Oru::ProductWebServiceResult KeldraProductWebService::GetBaseStationConfigFile()
{
    auto answer = EmptyObject();
    const auto problem = FileProblem();
    if (!problem.empty()) {
        answer.AddMember("problem", rapidjson::Value(problem.c_str(), answer.GetAllocator()), answer.GetAllocator());
    }
    return answer;
}

// Deliberate: a file the reader refuses can be started afresh, the old one kept beside it.
Oru::ProductWebServiceResult KeldraProductWebService::ResetBaseStationConfig()
{
    const auto problem = FileProblem();
    if (problem.empty()) {
        return std::string(ParametersMismatch);
    }
    // The old file stays beside the new one, for a look at what went wrong.
    const boost::filesystem::path keptAs = _path.string() + BrokenFileSuffix;
    if (std::rename(_path.c_str(), keptAs.c_str()) != 0 && errno != ENOENT) {
        ORU_LOG_ERROR("Cannot move the config file '" << _path << "' aside: " << std::strerror(errno));
        return std::string(StoreFailed);
    }
    ORU_LOG_WARN("The config file '" << _path << "' could not be used (" << problem << "); kept as " << keptAs
                                     << ", starting a fresh one");
    KeldraConfigurationReader::CreateDefaultConfigIfMissing(_path);
    if (!FileProblem().empty()) {
        return std::string(StoreFailed);
    }
    auto answer = EmptyObject();
    answer.AddMember("keptAs", rapidjson::Value(keptAs.filename().c_str(), answer.GetAllocator()),
                     answer.GetAllocator());
    return answer;
}

}  // namespace Keldra
