#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include <boost/optional/optional_io.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "CredentialsFileTesting.h"

using namespace Keldra;
using namespace Keldra::Testing;
using Lines = std::vector<std::string>;
const auto Error = log4cplus::ERROR_LOG_LEVEL;

namespace {

class ProductWebService : public CredentialsFileFixture {
protected:
    // The initial file is in place; its creation's log line is not of interest.
    void SetUp() override { _log.Clear(); }

    // The answer as text: "(none)", the error code, or the compact response.
    std::string Request(const std::string& name, const rapidjson::Value& parameters)
    {
        const auto result = _service->HandleRequest(name, parameters);
        if (std::holds_alternative<std::monostate>(result)) {
            return "(none)";
        }
        if (const auto* code = std::get_if<std::string>(&result)) {
            return *code;
        }
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        std::get<rapidjson::Document>(result).Accept(writer);
        return buffer.GetString();
    }
    std::string Get() { return Request("getBaseStationConfig", Json("{}")); }
    std::string Set(const std::string& parameters) { return Request("setBaseStationConfig", Json(parameters)); }
    // A rewrite installs a new file.
    std::pair<ino_t, std::string> Identity() const { return {Status(_path).st_ino, ReadBytes(_path)}; }
    void Restart(AtomicWriteObserver observer)
    {
        _service = std::make_unique<KeldraProductWebService>(_host, _path, std::move(observer));
    }

    NoCommonWebService _host;
    std::unique_ptr<KeldraProductWebService> _service = std::make_unique<KeldraProductWebService>(_host, _path);
};

// The changed station moves to the end; its password never leaves the plug-in.
TEST_F(ProductWebService, InitialFileAndAChange)
{
    for (const auto* name : {"", "getbasestationconfig", "setBaseStationConfig ", "SETBASESTATIONCONFIG"}) {
        EXPECT_EQ("(none)", Request(name, Json(SetIndex2))) << name;
    }
    EXPECT_EQ("(none)", Request(std::string("getBaseStationConfig\0", 21), Json("{}")));
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":2},{"index":3},{"index":4}]})",
              Request("getBaseStationConfig", Json("[1, 2]")));
    EXPECT_EQ("{}", Set(SetIndex2));
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":3},{"index":4},)"
              R"({"index":2,"username":"admin","credentials":true}]})",
              Get());
    EXPECT_EQ("admin/secret", ReadCredentials(_path, 2));
}

TEST_F(ProductWebService, AnswersToChangesAndWhetherTheFileIsRewritten)
{
    const auto withUserName = [](const std::string& username) {
        return R"({"index": 2, "credentials": "c2VjcmV0", "username": ")" + username + "\"}";
    };
    const std::tuple<std::string, const char*, bool> cases[] = {
        {SetIndex2, "{}", true},
        {R"({"credentials": "c2VjcmV0", "username": "admin", "index": 2})", "{}", false},  // the same again
        {R"({"index": 2, "username": "admin"})", "RQE004", false},
        {R"({"index": 2, "credentials": "c2VjcmV0"})", "RQE004", false},
        {R"({"index": 2, "username": "admin", "credentials": null})", "RQE004", false},
        {R"({"index": 7, "username": "admin", "credentials": "c2VjcmV0"})", "RQE003", false},
        {R"({"index": "2"})", "RQE002", false},
        {R"({"username": "a", "credentials": "eA=="})", "RQE002", false},
        {R"({"index": 256})", "RQE002", false},
        {R"({"index": -1})", "RQE002", false},
        {R"([{"index": 2}])", "RQE002", false},
        {R"({"index": 2, "username": 5, "credentials": "eA=="})", "RQE002", false},
        {withUserName("\xC3\x28"), "RQE002", false},
        {withUserName(std::string(KeldraProductWebService::MaximumTextLength + 1, 'u')), "RQE002", false},
        {R"({"index": 2, "username": "a", "credentials": ")" +
             std::string(KeldraConfigurationReader::MaximumFileSize + 1, 'Q') + "\"}",
         "RQE002", false},
        {withUserName(std::string(KeldraProductWebService::MaximumTextLength, 'u')), "{}", true},
        // What the reader would drop or HTTP Basic cannot carry.
        {withUserName(""), "RQE002", false},
        {withUserName("ad:min"), "RQE002", false},
        {withUserName("ad\\tmin"), "RQE002", false},
        {withUserName("ad\\u007fmin"), "RQE002", false},
        {R"({"index": 2, "username": "admin", "credentials": ""})", "RQE002", false},
        {R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0!"})", "RQE002", false},
        {R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0="})", "RQE002", false},
        {R"({"index": 2, "username": "admin", "credentials": "c2Vj=mV0"})", "RQE002", false},
        {R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0LQ==="})", "RQE002", false},
        {R"({"index": 2, "username": "admin", "credentials": "wyg="})", "RQE002", false},  // not UTF-8
        {R"({"index": 2, "username": "\u00e4dmin", "credentials": "w6Q6Yg=="})", "{}", true},  // "ä:b"
        {R"({"index": 2, "username": null, "credentials": null})", "{}", true},
        {R"({"index": 2})", "{}", false},  // clearing what is clear
    };
    for (const auto& [parameters, answer, rewritten] : cases) {
        const auto before = Identity();
        EXPECT_EQ(answer, Set(parameters)) << parameters.substr(0, 80);
        EXPECT_EQ(rewritten, before != Identity()) << parameters.substr(0, 80);
    }
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":3},{"index":4},{"index":2}]})", Get());
    EXPECT_EQ(std::string::npos, ReadBytes(_path).find("username"));
    EXPECT_EQ(Lines{"BaseStation was not found in configuration: 7."}, _log.Messages(Error));
    EXPECT_EQ(1u, _log.Entries().size());
}

// Only the key the station presented, as the page showed it, is accepted.
TEST_F(ProductWebService, StationKeysAndAcceptingThePresentedOne)
{
    const StationKeyStore store = StationKeyStore::BesideCredentials(_path);
    EXPECT_EQ(R"({"stations":[]})", Request("getStationKeys", Json("{}")));
    store.Remember("KLD0000001", "aa:01");
    store.Remember("KLD0000001", "bb:02");  // not a first contact any more
    store.Remember("KLD0000002", "cc:03");
    store.RecordPresented("KLD0000001", "dd:04");
    EXPECT_EQ(R"({"stations":[{"stationId":"KLD0000001","fingerprint":"aa:01","presented":"dd:04"},)"
              R"({"stationId":"KLD0000002","fingerprint":"cc:03"}]})",
              Request("getStationKeys", Json("{}")));
    for (const auto* refused : {R"({"stationId": "KLD0000001", "fingerprint": "bb:02"})",
                                R"({"stationId": "KLD0000002", "fingerprint": "dd:04"})",
                                R"({"stationId": "KLD0000001"})", R"(["KLD0000001", "dd:04"])"}) {
        EXPECT_EQ("RQE002", Request("acceptStationKey", Json(refused))) << refused;
    }
    EXPECT_EQ("{}", Request("acceptStationKey", Json(R"({"stationId": "KLD0000001", "fingerprint": "dd:04"})")));
    EXPECT_EQ(boost::optional<std::string>("dd:04"), store.Trusted("KLD0000001"));
    EXPECT_EQ(R"({"stations":[{"stationId":"KLD0000001","fingerprint":"dd:04"},)"
              R"({"stationId":"KLD0000002","fingerprint":"cc:03"}]})",
              Request("getStationKeys", Json("{}")));
    EXPECT_EQ(0600u, Status(_directory / StationKeyStore::FileName).st_mode & 07777);

    WriteBytes(_directory / StationKeyStore::FileName, "{");
    EXPECT_EQ("RQE002", Request("getStationKeys", Json("{}")));
    store.Remember("KLD0000003", "ee:05");  // an unreadable file is not overwritten
    EXPECT_EQ("{", ReadBytes(_directory / StationKeyStore::FileName));
}

// A file that is missing or refused is answered RQE002 on read and RQE003 on
// change and left as it is; the reader logs what it cannot read, the service
// a mismatch. Reset names its fault, moves it aside and starts the initial
// file; a usable file is left alone.
TEST_F(ProductWebService, BadFilesAreAnsweredAndLoggedAndMovedAsideOnReset)
{
    const std::string read = "Failed to read the config file '" + Quoted(_path) + "'";
    const std::tuple<const char*, std::string, const char*, std::string> cases[] = {  // content, line, source, problem
        {"{\"baseStations\": [", read + "!", "ConfigurationReader", "it is not valid JSON ("},
        {"[]", read + "!", "ConfigurationReader", "it does not hold a JSON object"},
        {"", read + "!", "ConfigurationReader", "it is larger than 1048576 bytes"},
        {R"({"stations": []})", read + ":  -> Expected object key \"baseStations\"", "KeldraProductWebService",
         "its content is not in the expected format:  -> Expected object key"},
        {nullptr, "Could not open the config file '" + Quoted(_path) + "'!", "ConfigurationReader",
         "it cannot be opened (No such file or directory)"},
    };
    const auto keptAs = _path.string() + KeldraProductWebService::BrokenFileSuffix;
    for (const auto& [text, line, source, problem] : cases) {
        SCOPED_TRACE(line);
        // The empty text stands for a file one byte beyond the reader's limit.
        const std::string content = text == nullptr ? "(missing)"
                                    : *text         ? text
                                                    : std::string(KeldraConfigurationReader::MaximumFileSize + 1, ' ');
        boost::filesystem::remove(_path);
        if (text != nullptr) {
            WriteBytes(_path, content);
        }
        _log.Clear();
        EXPECT_EQ("RQE002", Get());
        EXPECT_EQ("RQE003", Set(SetIndex2));
        EXPECT_EQ(content, boost::filesystem::exists(_path) ? ReadBytes(_path) : "(missing)");
        EXPECT_EQ((Lines{line, line}), _log.Messages(Error));
        EXPECT_EQ(source, _log.Entries().at(0).source);

        const auto state = Request("getBaseStationConfigFile", Json("{}"));
        EXPECT_NE(std::string::npos, state.find(R"({"problem":")" + problem)) << state;
        EXPECT_EQ(R"({"keptAs":"orubasestationconfig.json.broken"})", Request("resetBaseStationConfig", Json("{}")));
        EXPECT_EQ(InitialFile, ReadBytes(_path));
        EXPECT_EQ(content, boost::filesystem::exists(keptAs) ? ReadBytes(keptAs) : "(missing)");
        EXPECT_EQ("{}", Request("getBaseStationConfigFile", Json("{}")));
        boost::filesystem::remove(keptAs);
    }
    WriteBytes(_path, AdminFile);
    EXPECT_EQ("RQE002", Request("resetBaseStationConfig", Json("{}")));
    EXPECT_EQ(AdminFile, ReadBytes(_path));
}

TEST_F(ProductWebService, FileThatWouldGrowBeyondTheReadersLimitIsNotWritten)
{
    // 120 stations with the longest texts come close to the limit; each
    // further one adds about 8 KiB.
    const std::string longest(KeldraProductWebService::MaximumTextLength, 'Q');
    const auto entry = [&longest](int index) {
        return R"({"index": )" + std::to_string(index) + R"(, "username": ")" + longest + R"(", "credentials": ")" +
               longest + "\"}";
    };
    std::string file = R"({"baseStations": [)";
    for (int index = 0; index < 256; ++index) {
        file += (index > 0 ? ", " : "") + (index < 120 ? entry(index) : R"({"index": )" + std::to_string(index) + "}");
    }
    WriteBytes(_path, file + "]}");

    std::string answer;
    int index = 120;
    while (index < 256 && (answer = Set(entry(index))) == "{}") {
        ++index;
    }
    EXPECT_EQ("RQE003", answer);
    EXPECT_EQ(1u, _log.CountContaining("would grow beyond 1048576 bytes"));
    EXPECT_LE(ReadBytes(_path).size(), KeldraConfigurationReader::MaximumFileSize);
    EXPECT_NE("(none)", ReadCredentials(_path, static_cast<unsigned char>(index - 1)));
}

// Every entry of the index goes: a duplicate left in place would shadow it.
TEST_F(ProductWebService, DuplicateIndexIsReplacedEntirely)
{
    WriteBytes(_path, R"({"baseStations": [{"index": 2, "username": "first", "credentials": "c2VjcmV0"},
        {"index": 0, "username": "admin"}, {"index": 1, "credentials": "c2VjcmV0", "other": 1},
        {"index": 2, "username": "second", "credentials": "c2VjcmV0"}], "version": 3})");
    EXPECT_EQ(R"({"baseStations":[{"index":2,"username":"first","credentials":true},{"index":0},{"index":1},)"
              R"({"index":2,"username":"second","credentials":true}]})",
              Get());
    EXPECT_EQ("{}", Set(R"({"index": 2, "username": "new", "credentials": "cGFzcw=="})"));
    EXPECT_EQ(R"({"baseStations":[{"index":0},{"index":1},{"index":2,"username":"new","credentials":true}]})", Get());
    EXPECT_EQ("new/pass", ReadCredentials(_path, 2));
}

// Once the new file is in place the change counts (the writer's own steps
// are tested with the credentials file).
TEST_F(ProductWebService, AFailedRewriteIsRefusedAndLogged)
{
    for (const AtomicWriteStep failing : {AtomicWriteStep::ContentSynced, AtomicWriteStep::Installed}) {
        SCOPED_TRACE(static_cast<int>(failing));
        Restart([failing](AtomicWriteStep step) {
            return step == failing ? boost::system::errc::make_error_code(boost::system::errc::io_error)
                                   : boost::system::error_code();
        });
        _log.Clear();
        const bool stored = failing == AtomicWriteStep::Installed;
        EXPECT_EQ(stored ? "{}" : "RQE003", Set(SetIndex2));
        EXPECT_EQ(stored ? "admin/secret" : "(none)", ReadCredentials(_path, 2));
        EXPECT_EQ(stored ? 0u : 1u, _log.CountContaining("Failed to write the config file '" + Quoted(_path) + "'"));
    }
}

}  // namespace
