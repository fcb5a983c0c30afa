#include "KeldraProductWebService.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "KeldraConfigurationReader.h"
#include "OruLogging.h"
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
    : _commonWebService(commonWebService), _path(path), _writeObserver(std::move(writeObserver))
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
    return std::monostate();
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
