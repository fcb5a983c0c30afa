#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "CredentialsFileTesting.h"
#include "LogCapture.h"
#include "discovery/KeldraConfigurationReader.h"
#include "discovery/KeldraProductWebService.h"

using namespace Keldra;
using namespace Keldra::Testing;
using Oru::Testing::LogCapture;

namespace {

const auto Error = log4cplus::ERROR_LOG_LEVEL;

class NoCommonWebService final : public Oru::ICommonWebService {};

rapidjson::Document Json(const std::string& text)
{
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    EXPECT_FALSE(document.HasParseError()) << text;
    return document;
}

// The answer as text: "(none)", the error code, or the compact response.
std::string Describe(const Oru::ProductWebServiceResult& result)
{
    if (std::holds_alternative<std::monostate>(result)) {
        return "(none)";
    }
    if (const auto* code = std::get_if<std::string>(&result)) {
        return *code;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    std::get<rapidjson::Document>(result).Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// The file's identity: a rewrite installs a new file.
struct FileIdentity {
    ino_t inode;
    std::string content;
    bool operator==(const FileIdentity& other) const { return inode == other.inode && content == other.content; }
};

class ProductWebService : public testing::Test {
protected:
    // The initial file is in place; its creation's log line is not of interest.
    void SetUp() override { _log.Clear(); }

    std::string Get() { return Describe(_service->HandleRequest("getBaseStationConfig", Json("{}"))); }
    std::string Set(const std::string& parameters)
    {
        return Describe(_service->HandleRequest("setBaseStationConfig", Json(parameters)));
    }
    FileIdentity Identity() const { return {Status(_path).st_ino, ReadBytes(_path)}; }
    boost::optional<Credentials> ReaderCredentials(unsigned char index) const
    {
        KeldraConfigurationReader reader(_path);
        reader.UpdateCredentials();
        return reader.GetCredentials(index);
    }
    void Restart(AtomicWriteObserver observer = {})
    {
        _service = std::make_unique<KeldraProductWebService>(_host, _path, std::move(observer));
    }

    TemporaryDirectory _directory;
    boost::filesystem::path _path = _directory.Path() / "orubasestationconfig.json";
    NoCommonWebService _host;
    LogCapture _log;
    std::unique_ptr<KeldraProductWebService> _service = std::make_unique<KeldraProductWebService>(_host, _path);
};

TEST_F(ProductWebService, OtherRequestNamesGetNoAnswer)
{
    for (const auto* name : {"", "getbasestationconfig", "GetBaseStationConfig", "setBaseStationConfig ",
                             " getBaseStationConfig", "SETBASESTATIONCONFIG"}) {
        EXPECT_EQ("(none)", Describe(_service->HandleRequest(name, Json(R"({"index": 0})")))) << name;
    }
    EXPECT_EQ("(none)", Describe(_service->HandleRequest(std::string("getBaseStationConfig\0", 21), Json("{}"))));
    EXPECT_EQ(InitialFile(), ReadBytes(_path));
}

TEST_F(ProductWebService, InitialFileListsFiveStationsWithIndexOnly)
{
    EXPECT_EQ(InitialFile(), ReadBytes(_path));
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":2},{"index":3},{"index":4}]})", Get());
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":2},{"index":3},{"index":4}]})",
              Describe(_service->HandleRequest("getBaseStationConfig", Json("[1, 2]"))));
}

TEST_F(ProductWebService, ChangedStationMovesToTheEndWithoutItsPassword)
{
    EXPECT_EQ("{}", Set(R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0"})"));
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":3},{"index":4},)"
              R"({"index":2,"username":"admin","credentials":true}]})",
              Get());
    EXPECT_EQ("{\n"
              "    \"baseStations\" : [\n"
              "        {\n"
              "            \"index\" : 0\n"
              "        },\n"
              "        {\n"
              "            \"index\" : 1\n"
              "        },\n"
              "        {\n"
              "            \"index\" : 3\n"
              "        },\n"
              "        {\n"
              "            \"index\" : 4\n"
              "        },\n"
              "        {\n"
              "            \"index\" : 2,\n"
              "            \"username\" : \"admin\",\n"
              "            \"credentials\" : \"c2VjcmV0\"\n"
              "        }\n"
              "    ]\n"
              "}",
              ReadBytes(_path));
    const auto credentials = ReaderCredentials(2);
    ASSERT_TRUE(credentials);
    EXPECT_EQ("admin", credentials->username);
    EXPECT_EQ("secret", credentials->password);
    EXPECT_TRUE(_log.Messages(Error).empty());
}

TEST_F(ProductWebService, RepeatingAChangeDoesNotRewriteTheFile)
{
    ASSERT_EQ("{}", Set(R"({"index": 1, "username": "admin", "credentials": "c2VjcmV0"})"));
    const auto before = Identity();
    EXPECT_EQ("{}", Set(R"({"credentials": "c2VjcmV0", "username": "admin", "index": 1})"));
    EXPECT_TRUE(before == Identity());
}

TEST_F(ProductWebService, ClearingRemovesBothMembers)
{
    ASSERT_EQ("{}", Set(R"({"index": 0, "username": "admin", "credentials": "c2VjcmV0"})"));
    EXPECT_EQ("{}", Set(R"({"index": 0, "username": null, "credentials": null})"));
    EXPECT_EQ(R"({"baseStations":[{"index":1},{"index":2},{"index":3},{"index":4},{"index":0}]})", Get());
    EXPECT_EQ(std::string::npos, ReadBytes(_path).find("admin"));
    EXPECT_FALSE(ReaderCredentials(0));

    // Clearing what is already clear changes nothing.
    const auto before = Identity();
    EXPECT_EQ("{}", Set(R"({"index": 0})"));
    EXPECT_TRUE(before == Identity());
}

TEST_F(ProductWebService, OnlyOneOfUserNameAndPasswordIsRefused)
{
    const auto before = Identity();
    EXPECT_EQ("RQE004", Set(R"({"index": 2, "username": "admin"})"));
    EXPECT_EQ("RQE004", Set(R"({"index": 2, "credentials": "c2VjcmV0"})"));
    EXPECT_EQ("RQE004", Set(R"({"index": 2, "username": "admin", "credentials": null})"));
    EXPECT_EQ("RQE004", Set(R"({"index": 7, "username": "admin"})"));
    EXPECT_TRUE(before == Identity());
    EXPECT_TRUE(_log.Entries().empty());
}

TEST_F(ProductWebService, UnknownIndexIsNotStored)
{
    const auto before = Identity();
    EXPECT_EQ("RQE003", Set(R"({"index": 7, "username": "admin", "credentials": "c2VjcmV0"})"));
    EXPECT_EQ((std::vector<std::string>{"BaseStation was not found in configuration: 7."}), _log.Messages(Error));
    EXPECT_EQ("KeldraProductWebService", _log.Entries().at(0).source);
    EXPECT_TRUE(before == Identity());
}

struct BadParametersCase {
    const char* name;
    std::function<std::string()> parameters;
};

class BadParameters : public ProductWebService, public testing::WithParamInterface<BadParametersCase> {};

TEST_P(BadParameters, AreRefusedAndTheFileStaysUntouched)
{
    const auto before = Identity();
    EXPECT_EQ("RQE002", Set(GetParam().parameters()));
    EXPECT_TRUE(before == Identity());
    EXPECT_TRUE(_log.Entries().empty());
}

std::string WithUserName(const std::string& username)
{
    return R"({"index": 2, "credentials": "c2VjcmV0", "username": ")" + username + "\"}";
}

INSTANTIATE_TEST_SUITE_P(
    ProductWebService, BadParameters,
    testing::Values(
        BadParametersCase{"IndexAsString", [] { return std::string(R"({"index": "2"})"); }},
        BadParametersCase{"IndexMissing", [] { return std::string(R"({"username": "a", "credentials": "eA=="})"); }},
        BadParametersCase{"IndexNull", [] { return std::string(R"({"index": null})"); }},
        BadParametersCase{"Index256", [] { return std::string(R"({"index": 256})"); }},
        BadParametersCase{"IndexMinus1", [] { return std::string(R"({"index": -1})"); }},
        BadParametersCase{"IndexReal", [] { return std::string(R"({"index": 2.0})"); }},
        BadParametersCase{"ParametersArray", [] { return std::string(R"([{"index": 2}])"); }},
        BadParametersCase{"ParametersNull", [] { return std::string("null"); }},
        BadParametersCase{"UserNameNumber",
                          [] { return std::string(R"({"index": 2, "username": 5, "credentials": "eA=="})"); }},
        BadParametersCase{"PasswordObject",
                          [] { return std::string(R"({"index": 2, "username": "a", "credentials": {}})"); }},
        BadParametersCase{"UserNameNotUtf8", [] { return WithUserName("\xC3\x28"); }},
        BadParametersCase{"PasswordNotUtf8",
                          [] { return std::string("{\"index\": 2, \"username\": \"a\", \"credentials\": \"\xFE\"}"); }},
        BadParametersCase{"HugeUserName",
                          [] {
                              return WithUserName(std::string(KeldraProductWebService::MaximumTextLength + 1, 'u'));
                          }},
        BadParametersCase{"HugePassword",
                          [] {
                              return R"({"index": 2, "username": "a", "credentials": ")" +
                                     std::string(KeldraConfigurationReader::MaximumFileSize + 1, 'Q') + "\"}";
                          }}),
    [](const testing::TestParamInfo<BadParametersCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(ProductWebService, LongestAcceptedTextsAreStored)
{
    const std::string username(KeldraProductWebService::MaximumTextLength, 'u');
    EXPECT_EQ("{}", Set(WithUserName(username)));
    const auto credentials = ReaderCredentials(2);
    ASSERT_TRUE(credentials);
    EXPECT_EQ(username, credentials->username);
}

TEST_F(ProductWebService, FileThatWouldGrowBeyondTheReadersLimitIsNotWritten)
{
    // 120 stations with the longest texts come close to the limit; each
    // further one adds about 8 KiB.
    const std::string longestUserName(KeldraProductWebService::MaximumTextLength, 'u');
    std::string longestPassword;
    while (longestPassword.size() < KeldraProductWebService::MaximumTextLength) {
        longestPassword += "QUFB";
    }
    const auto entry = [&](int index) {
        return R"({"index": )" + std::to_string(index) + R"(, "username": ")" + longestUserName +
               R"(", "credentials": ")" + longestPassword + "\"}";
    };
    std::string file = R"({"baseStations": [)";
    for (int index = 0; index < 256; ++index) {
        file += (index > 0 ? ", " : "") + (index < 120 ? entry(index) : R"({"index": )" + std::to_string(index) + "}");
    }
    WriteBytes(_path, file + "]}");
    ASSERT_TRUE(ReaderCredentials(0));

    std::string answer;
    int index = 120;
    for (; index < 256; ++index) {
        answer = Set(entry(index));
        if (answer != "{}") {
            break;
        }
    }
    EXPECT_EQ("RQE003", answer);
    EXPECT_LT(index, 256);
    EXPECT_EQ(1u, _log.CountContaining("would grow beyond 1048576 bytes"));
    EXPECT_LE(ReadBytes(_path).size(), KeldraConfigurationReader::MaximumFileSize);
    EXPECT_TRUE(ReaderCredentials(0));
    EXPECT_TRUE(ReaderCredentials(static_cast<unsigned char>(index - 1)));
}

TEST_F(ProductWebService, EscapedCharactersSurviveTheRoundTrip)
{
    const std::string username = std::string("q\"b\\s/\t\n") + '\x01' + "\xC3\xA9\xF0\x9F\x94\xA5";
    rapidjson::Document parameters;
    parameters.SetObject();
    parameters.AddMember("index", 4, parameters.GetAllocator());
    rapidjson::Value usernameValue(username.data(), static_cast<rapidjson::SizeType>(username.size()),
                                   parameters.GetAllocator());
    parameters.AddMember("username", usernameValue, parameters.GetAllocator());
    parameters.AddMember("credentials", "w6k=", parameters.GetAllocator());
    EXPECT_EQ("{}", Describe(_service->HandleRequest("setBaseStationConfig", parameters)));

    const auto credentials = ReaderCredentials(4);
    ASSERT_TRUE(credentials);
    EXPECT_EQ(username, credentials->username);
    EXPECT_EQ("\xC3\xA9", credentials->password);
    EXPECT_NE(std::string::npos, ReadBytes(_path).find("\"username\" : \"q\\\"b\\\\s/\\t\\n\\u0001\xC3\xA9"));
}

TEST_F(ProductWebService, StationsWithOnlyOneOfTheTwoAreListedByIndex)
{
    WriteBytes(_path, R"({"baseStations": [
        {"index": 0, "username": "admin"},
        {"index": 1, "credentials": "c2VjcmV0"},
        {"index": 2, "username": "both", "credentials": "c2VjcmV0", "other": 1}], "version": 3})");
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":2,"username":"both","credentials":true}]})",
              Get());
}

TEST_F(ProductWebService, DuplicateIndexIsReplacedEntirely)
{
    WriteBytes(_path, R"({"baseStations": [
        {"index": 2, "username": "first", "credentials": "c2VjcmV0"},
        {"index": 0},
        {"index": 2, "username": "second", "credentials": "c2VjcmV0"}]})");
    EXPECT_EQ("{}", Set(R"({"index": 2, "username": "new", "credentials": "cGFzcw=="})"));
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":2,"username":"new","credentials":true}]})", Get());
    const auto credentials = ReaderCredentials(2);
    ASSERT_TRUE(credentials);
    EXPECT_EQ("new", credentials->username);
}

struct BadFileCase {
    const char* name;
    std::string content;
    // The error logged by the reader or by the service.
    std::string message;
    const char* source;
};

class BadFile : public ProductWebService, public testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFile, GivesRqe002OnReadAndRqe003OnChange)
{
    WriteBytes(_path, GetParam().content);
    const auto before = Identity();
    EXPECT_EQ("RQE002", Get());
    EXPECT_EQ("RQE003", Set(R"({"index": 0, "username": "admin", "credentials": "c2VjcmV0"})"));
    EXPECT_TRUE(before == Identity());

    const auto message = "Failed to read the config file '" + Quoted(_path) + GetParam().message;
    EXPECT_EQ((std::vector<std::string>{message, message}), _log.Messages(Error));
    EXPECT_EQ(GetParam().source, _log.Entries().at(0).source);
}

INSTANTIATE_TEST_SUITE_P(
    ProductWebService, BadFile,
    testing::Values(
        BadFileCase{"NotJson", "{\"baseStations\": [", "'!", "ConfigurationReader"},
        BadFileCase{"Empty", "", "'!", "ConfigurationReader"},
        BadFileCase{"TopLevelArray", R"([{"index": 0}])", "'!", "ConfigurationReader"},
        BadFileCase{"TopLevelScalar", "0", "'!", "ConfigurationReader"},
        BadFileCase{"MissingList", R"({"stations": []})", "':  -> Expected object key \"baseStations\"",
                    "KeldraProductWebService"},
        BadFileCase{"IndexOutOfRange", R"({"baseStations": [{"index": 0}, {"index": 300}]})",
                    "': [baseStations][1][index] -> Integer out of range", "KeldraProductWebService"}),
    [](const testing::TestParamInfo<BadFileCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(ProductWebService, VanishedFileGivesRqe002AndRqe003)
{
    boost::filesystem::remove(_path);
    EXPECT_EQ("RQE002", Get());
    EXPECT_EQ("RQE003", Set(R"({"index": 0, "username": "admin", "credentials": "c2VjcmV0"})"));
    const auto message = "Could not open the config file '" + Quoted(_path) + "'!";
    EXPECT_EQ((std::vector<std::string>{message, message}), _log.Messages(Error));
    EXPECT_FALSE(boost::filesystem::exists(_path));
}

TEST_F(ProductWebService, MissingGrandParentIsLoggedNotThrown)
{
    _path = _directory.Path() / "missing" / "config" / "orubasestationconfig.json";
    ASSERT_NO_THROW(Restart());
    EXPECT_EQ(1u, _log.Count(Error, "Failed to create initial empty configuration '" + Quoted(_path) + "'!"));
    EXPECT_EQ("RQE002", Get());
}

TEST_F(ProductWebService, RewrittenFileIsPrivateWhateverTheUmask)
{
    const ScopedUmask laxUmask(0);
    boost::filesystem::permissions(_path, boost::filesystem::perms(0644));
    ASSERT_EQ("{}", Set(R"({"index": 3, "username": "admin", "credentials": "c2VjcmV0"})"));
    EXPECT_EQ(0600u, PermissionBits(_path));
    EXPECT_EQ(std::vector<std::string>{"orubasestationconfig.json"}, Listing(_directory.Path()));
}

struct FailingStepCase {
    AtomicWriteStep step;
    // After the rename the new file is in place: the change counts.
    bool stored;
};

class FailingStep : public ProductWebService, public testing::WithParamInterface<FailingStepCase> {};

TEST_P(FailingStep, LeavesTheOldFileOrTheNewOneAndNoLitter)
{
    const auto failingStep = GetParam().step;
    Restart([failingStep](AtomicWriteStep step) {
        return step == failingStep ? boost::system::errc::make_error_code(boost::system::errc::io_error)
                                   : boost::system::error_code();
    });
    const auto before = Identity();
    const auto answer = Set(R"({"index": 3, "username": "admin", "credentials": "c2VjcmV0"})");

    EXPECT_EQ(std::vector<std::string>{"orubasestationconfig.json"}, Listing(_directory.Path()));
    EXPECT_EQ(1u, _log.Messages(Error).size());
    if (GetParam().stored) {
        EXPECT_EQ("{}", answer);
        EXPECT_TRUE(ReaderCredentials(3));
    } else {
        EXPECT_EQ("RQE003", answer);
        EXPECT_TRUE(before == Identity());
        EXPECT_EQ(1u, _log.CountContaining("Failed to write the config file '" + Quoted(_path) + "'"));
    }
}

INSTANTIATE_TEST_SUITE_P(ProductWebService, FailingStep,
                         testing::Values(FailingStepCase{AtomicWriteStep::TemporaryCreated, false},
                                         FailingStepCase{AtomicWriteStep::ContentWritten, false},
                                         FailingStepCase{AtomicWriteStep::ContentSynced, false},
                                         FailingStepCase{AtomicWriteStep::TemporaryClosed, false},
                                         FailingStepCase{AtomicWriteStep::Installed, true},
                                         FailingStepCase{AtomicWriteStep::DirectorySynced, true}));

// The host's thread rewrites the file while the worker thread reads it: the
// reader always finds a complete file.
TEST_F(ProductWebService, ReaderNeverSeesAPartialFileWhileItIsRewritten)
{
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::atomic<int> incomplete{0};
    std::thread reader([&] {
        while (writing || reads < 10) {
            bool complete = false;
            KeldraConfigurationReader::ReadConfiguration(
                _path, [&complete](Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type result, std::time_t) {
                    complete = Oru::GetMismatch(result) == nullptr &&
                               boost::get<BaseStationsWithCredentialsConfig>(result).baseStations.size() == 5;
                });
            ++reads;
            if (!complete) {
                ++incomplete;
            }
        }
    });
    for (int round = 0; round < 100; ++round) {
        const auto username = round % 2 == 0 ? std::string(2000, 'a') : std::string("b");
        ASSERT_EQ("{}", Set(R"({"index": 1, "username": ")" + username + R"(", "credentials": "c2VjcmV0"})"));
    }
    writing = false;
    reader.join();
    EXPECT_EQ(0, incomplete.load());
    EXPECT_TRUE(_log.Messages(Error).empty());
}

}  // namespace
