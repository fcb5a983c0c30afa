#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_service.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "CredentialsFileTesting.h"
#include "LogCapture.h"
#include "VirtualClockSystem.h"
#include "discovery/KeldraConfigurationManager.h"
#include "discovery/KeldraConfigurationReader.h"
#include "discovery/KeldraProductWebService.h"
#include "support/WaitableTimerWrapper.h"

using namespace Keldra;
using namespace Keldra::Testing;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;

namespace {

const auto Error = log4cplus::ERROR_LOG_LEVEL;
const auto Info = log4cplus::INFO_LOG_LEVEL;

std::string Describe(const boost::optional<Credentials>& credentials)
{
    return credentials ? credentials->username + "/" + credentials->password : "(none)";
}

// A file with one entry: index 0, "admin" and the Base64 of "secret".
const char* const AdminFile =
    R"({"baseStations": [{"index": 0, "username": "admin", "credentials": "c2VjcmV0"}]})";

class CredentialsFile : public testing::Test {
protected:
    std::unique_ptr<KeldraConfigurationManager> StartManager()
    {
        return std::make_unique<KeldraConfigurationManager>(std::make_unique<KeldraConfigurationReader>(_path),
                                                            _clock.CreateTimer());
    }

    std::string CouldNotOpen() const { return "Could not open the config file '" + Quoted(_path) + "'!"; }
    std::string NotJson() const { return "Failed to read the config file '" + Quoted(_path) + "'!"; }
    std::string Mismatch(const std::string& location) const
    {
        return "Failed to read the config file '" + Quoted(_path) + "': " + location;
    }

    TemporaryDirectory _directory;
    boost::filesystem::path _path = _directory.Path() / "orubasestationconfig.json";
    VirtualClockSystem _clock;
    LogCapture _log;
};

TEST_F(CredentialsFile, MissingDirectoryAndFileAreCreated)
{
    const auto directory = _directory.Path() / "config";
    _path = directory / "orubasestationconfig.json";
    const auto manager = StartManager();

    EXPECT_TRUE(boost::filesystem::is_directory(directory));
    EXPECT_EQ(InitialFile(), ReadBytes(_path));
    EXPECT_EQ((std::vector<std::string>{"Created directory '" + Quoted(directory) + "'!",
                                        "Creating initial empty configuration '" + Quoted(_path) + "'!"}),
              _log.Messages(Info));
    EXPECT_TRUE(_log.Messages(Error).empty());
    for (unsigned char index = 0; index < 8; ++index) {
        EXPECT_EQ("(none)", Describe(manager->GetCredentials(index)));
    }
}

TEST_F(CredentialsFile, MissingFileInExistingDirectoryIsCreated)
{
    KeldraConfigurationReader reader(_path);
    EXPECT_EQ(InitialFile(), ReadBytes(_path));
    EXPECT_EQ((std::vector<std::string>{"Creating initial empty configuration '" + Quoted(_path) + "'!"}),
              _log.Messages(Info));
}

TEST_F(CredentialsFile, InitialFileIsPrivateWhateverTheUmask)
{
    const ScopedUmask laxUmask(0);
    KeldraConfigurationReader reader(_path);
    EXPECT_EQ(0600u, PermissionBits(_path));
    EXPECT_EQ(std::vector<std::string>{"orubasestationconfig.json"}, Listing(_directory.Path()));
}

TEST_F(CredentialsFile, ExistingFileIsLeftAlone)
{
    WriteBytes(_path, AdminFile);
    const auto manager = StartManager();
    EXPECT_EQ(AdminFile, ReadBytes(_path));
    EXPECT_TRUE(_log.Entries().empty());
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));
}

TEST_F(CredentialsFile, MissingGrandParentIsLoggedNotThrown)
{
    _path = _directory.Path() / "missing" / "config" / "orubasestationconfig.json";
    std::unique_ptr<KeldraConfigurationManager> manager;
    ASSERT_NO_THROW(manager = StartManager());

    EXPECT_FALSE(boost::filesystem::exists(_path.parent_path()));
    EXPECT_EQ(1u, _log.Count(Error, "Failed to create initial empty configuration '" + Quoted(_path) + "'!"));
    EXPECT_EQ(1u, _log.Count(Error, CouldNotOpen()));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(0)));
}

TEST_F(CredentialsFile, FirstReadHappensInTheConstructor)
{
    WriteBytes(_path, R"({"baseStations": [
        {"index": 4, "username": "fifth", "credentials": "cGFzcw=="},
        {"index": 0, "username": "first", "credentials": "c2VjcmV0"},
        {"index": 7, "username": "eighth", "credentials": "eA=="}]})");
    const auto manager = StartManager();
    EXPECT_EQ("first/secret", Describe(manager->GetCredentials(0)));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(1)));
    EXPECT_EQ("fifth/pass", Describe(manager->GetCredentials(4)));
    EXPECT_EQ("eighth/x", Describe(manager->GetCredentials(7)));
}

struct PasswordCase {
    const char* base64;
    // Empty optional: the entry is dropped by the sanity check.
    boost::optional<std::string> password;
};

TEST_F(CredentialsFile, PasswordsAreDecodedLenientlyFromBase64)
{
    const std::vector<PasswordCase> cases = {
        {"c2VjcmV0", std::string("secret")},
        {"c2VjcmV0IQ==", std::string("secret!")},
        {"c2VjcmV0IQ", std::string("secret!")},
        {"c2VjcmV0IT8=", std::string("secret!?")},
        {"c2VjcmV0IT8", std::string("secret!?")},
        {"YWJjZ", std::string("abc")},  // a single leftover character gives nothing
        {"YQ==YWJj", std::string("a")},  // stops at the first "="
        {"YW Jj", std::string("a")},     // stops at a character outside the alphabet
        {"YWJj\\nZGVm", std::string("abc")},  // a line feed, escaped in the file
        {"YWJj-_", std::string("abc")},  // the URL alphabet is not Base64's
        {"Pz8/Pz4+", std::string("?\?\?\?>>")},
        {"", std::string("")},
        {"=", std::string("")},
        {"w6nDqQ==", std::string("\xC3\xA9\xC3\xA9")},
        {"AA==", std::string("\0", 1)},
        {"wyg=", boost::none},  // 0xC3 0x28 is not UTF-8
        {"gA==", boost::none},  // a lone continuation byte
        {"7aCA", boost::none},  // an encoded surrogate
    };
    std::string file = R"({"baseStations": [)";
    for (std::size_t index = 0; index < cases.size(); ++index) {
        file += (index > 0 ? ", " : "") + std::string(R"({"index": )") + std::to_string(index) +
                R"(, "username": "user", "credentials": ")" + cases[index].base64 + "\"}";
    }
    WriteBytes(_path, file + "]}");

    const auto manager = StartManager();
    for (std::size_t index = 0; index < cases.size(); ++index) {
        const auto credentials = manager->GetCredentials(static_cast<unsigned char>(index));
        const auto expected = cases[index].password ? "user/" + *cases[index].password : "(none)";
        EXPECT_EQ(expected, Describe(credentials)) << cases[index].base64;
    }
    EXPECT_EQ(3u, _log.Count(Error, "Sanity check of credential hash failed!"));
    EXPECT_EQ(3u, _log.Entries().size());
}

TEST_F(CredentialsFile, InvalidPasswordSkipsOnlyItsEntry)
{
    WriteBytes(_path, R"({"baseStations": [
        {"index": 0, "username": "admin", "credentials": "c2VjcmV0"},
        {"index": 1, "username": "broken", "credentials": "wyg="},
        {"index": 2, "username": "other", "credentials": "cGFzcw=="}]})");
    const auto manager = StartManager();
    EXPECT_EQ(1u, _log.Count(Error, "Sanity check of credential hash failed!"));
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(1)));
    EXPECT_EQ("other/pass", Describe(manager->GetCredentials(2)));
}

TEST_F(CredentialsFile, EntriesWithoutUserNameOrPasswordAreSkippedSilently)
{
    WriteBytes(_path, R"({"baseStations": [
        {"index": 0, "username": "admin"},
        {"index": 1, "credentials": "c2VjcmV0"},
        {"index": 2, "username": null, "credentials": "c2VjcmV0"},
        {"index": 3, "username": "", "credentials": ""},
        {"index": 4}]})");
    const auto manager = StartManager();
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(0)));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(1)));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(2)));
    EXPECT_EQ("/", Describe(manager->GetCredentials(3)));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(4)));
    EXPECT_TRUE(_log.Entries().empty());
}

TEST_F(CredentialsFile, DuplicateIndexKeepsTheFirstEntry)
{
    WriteBytes(_path, R"({"baseStations": [
        {"index": 2, "username": "first", "credentials": "c2VjcmV0"},
        {"index": 2, "username": "second", "credentials": "cGFzcw=="}]})");
    const auto manager = StartManager();
    EXPECT_EQ("first/secret", Describe(manager->GetCredentials(2)));
}

TEST_F(CredentialsFile, ChangedFileIsServedAfterTheNextCycle)
{
    WriteBytes(_path, AdminFile);
    const auto manager = StartManager();
    WriteBytes(_path, R"({"baseStations": [{"index": 0, "username": "new", "credentials": "cGFzcw=="}]})");

    _clock.Advance(KeldraConfigurationManager::UpdateCycle - boost::chrono::nanoseconds(1));
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));
    _clock.Advance(boost::chrono::nanoseconds(1));
    EXPECT_EQ("new/pass", Describe(manager->GetCredentials(0)));

    WriteBytes(_path, R"({"baseStations": []})");
    _clock.Advance(KeldraConfigurationManager::UpdateCycle);
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(0)));
    EXPECT_TRUE(_log.Entries().empty());
    EXPECT_EQ(1u, _clock.PendingWaitCount());
}

TEST_F(CredentialsFile, OlderFileIsIgnoredUntilItsTimeCatchesUp)
{
    const std::time_t stored = 1600000000;
    WriteBytes(_path, AdminFile, stored);
    const auto manager = StartManager();

    WriteBytes(_path, R"({"baseStations": [{"index": 0, "username": "older", "credentials": "cGFzcw=="}]})",
               stored - 100);
    _clock.Advance(KeldraConfigurationManager::UpdateCycle * 3);
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));

    // An unchanged time still counts: the file is read on every cycle.
    boost::filesystem::last_write_time(_path, stored);
    _clock.Advance(KeldraConfigurationManager::UpdateCycle);
    EXPECT_EQ("older/pass", Describe(manager->GetCredentials(0)));

    WriteBytes(_path, R"({"baseStations": [{"index": 0, "username": "same", "credentials": "cGFzcw=="}]})", stored);
    _clock.Advance(KeldraConfigurationManager::UpdateCycle);
    EXPECT_EQ("same/pass", Describe(manager->GetCredentials(0)));
}

TEST_F(CredentialsFile, OutOfRangeIndexRejectsTheWholeFile)
{
    WriteBytes(_path, AdminFile);
    const auto manager = StartManager();
    WriteBytes(_path, R"({"baseStations": [
        {"index": 1, "username": "other", "credentials": "cGFzcw=="},
        {"index": 300, "username": "x", "credentials": "eA=="}]})");
    _clock.Advance(KeldraConfigurationManager::UpdateCycle);

    EXPECT_EQ(1u, _log.Count(Error, Mismatch("[baseStations][1][index] -> Integer out of range")));
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));
    EXPECT_EQ("(none)", Describe(manager->GetCredentials(1)));
}

std::string Nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string Binary()
{
    std::string bytes;
    unsigned int state = 12345;
    for (int i = 0; i < 4096; ++i) {
        state = state * 1103515245u + 12345u;
        bytes += static_cast<char>(state >> 24);
    }
    return bytes;
}

// A valid credentials file of exactly size bytes.
std::string PaddedFile(std::size_t size)
{
    const std::string start = R"({"baseStations": [{"index": 0, "username": "padded", "credentials": "cGFzcw=="}],)"
                              R"( "padding": ")";
    const std::string end = "\"}";
    return start + std::string(size - start.size() - end.size(), 'x') + end;
}

struct BadFileCase {
    const char* name;
    std::function<std::string()> content;
    // Empty: logged as not valid JSON; otherwise the printed location.
    std::string location;
};

class BadFile : public CredentialsFile, public testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFile, IsRejectedWithItsReasonAndThePreviousTableStays)
{
    WriteBytes(_path, AdminFile);
    const auto manager = StartManager();
    ASSERT_EQ("admin/secret", Describe(manager->GetCredentials(0)));

    WriteBytes(_path, GetParam().content());
    _clock.Advance(KeldraConfigurationManager::UpdateCycle);

    const auto expected = GetParam().location.empty() ? NotJson() : Mismatch(GetParam().location);
    EXPECT_EQ(std::vector<std::string>{expected}, _log.Messages(Error));
    EXPECT_EQ(1u, _log.Entries().size());
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));
    EXPECT_EQ(1u, _clock.PendingWaitCount());
}

INSTANTIATE_TEST_SUITE_P(
    CredentialsFile, BadFile,
    testing::Values(
        BadFileCase{"Empty", [] { return std::string(); }, ""},
        BadFileCase{"Truncated", [] { return std::string(R"({"baseStations": [{"index": 0, "username": "ad)"); }, ""},
        BadFileCase{"Binary", Binary, ""},
        BadFileCase{"TrailingGarbage", [] { return std::string(R"({"baseStations": []} x)"); }, ""},
        BadFileCase{"TwoObjects", [] { return std::string(R"({"baseStations": []} {})"); }, ""},
        BadFileCase{"NotANumber", [] { return std::string(R"({"baseStations": [{"index": NaN}]})"); }, ""},
        BadFileCase{"LoneSurrogateEscape", [] { return std::string(R"({"baseStations": [], "x": "\ud800"})"); }, ""},
        BadFileCase{"TenMegabytes", [] { return PaddedFile(10 * 1024 * 1024); }, ""},
        BadFileCase{"OneByteOverTheLimit",
                    [] { return PaddedFile(KeldraConfigurationReader::MaximumFileSize + 1); }, ""},
        BadFileCase{"TopLevelArray", [] { return std::string(R"([{"baseStations": []}])"); }, ""},
        BadFileCase{"TopLevelNumber", [] { return std::string("42"); }, ""},
        BadFileCase{"TopLevelString", [] { return std::string(R"("baseStations")"); }, ""},
        BadFileCase{"Nested500000LevelsAtTopLevel", [] { return Nested(500000); }, ""},
        BadFileCase{"Nested500000LevelsUnclosed", [] { return "{\"baseStations\": " + std::string(500000, '['); },
                    ""},
        BadFileCase{"Nested1000Levels", [] { return "{\"baseStations\": " + Nested(1000) + "}"; },
                    "[baseStations][0] -> Expected type Object, found Array"},
        BadFileCase{"NoBaseStations", [] { return std::string(R"({"basestations": []})"); },
                    " -> Expected object key \"baseStations\""},
        BadFileCase{"BaseStationsNotAnArray", [] { return std::string(R"({"baseStations": {"index": 0}})"); },
                    "[baseStations] -> Expected type Array, found Object"},
        BadFileCase{"IndexOutOfRangeInSecondEntry",
                    [] { return std::string(R"({"baseStations": [{"index": 0}, {"index": 300}]})"); },
                    "[baseStations][1][index] -> Integer out of range"},
        BadFileCase{"NegativeIndex", [] { return std::string(R"({"baseStations": [{"index": -1}]})"); },
                    "[baseStations][0][index] -> Integer out of range"},
        BadFileCase{"UserNameNotAString",
                    [] { return std::string(R"({"baseStations": [{"index": 0, "username": 5}]})"); },
                    "[baseStations][0][username] -> Expected type String, found Int"},
        BadFileCase{"UserNameNotUtf8",
                    [] { return std::string("{\"baseStations\": [{\"index\": 0, \"username\": \"\xC3\x28\"}]}"); },
                    "[baseStations][0][username] -> Invalid text encoding"},
        BadFileCase{"PasswordNotUtf8",
                    [] {
                        return std::string(
                            "{\"baseStations\": [{\"index\": 0, \"username\": \"a\", \"credentials\": \"\xFF\"}]}");
                    },
                    "[baseStations][0][credentials] -> Invalid text encoding"}),
    [](const testing::TestParamInfo<BadFileCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(CredentialsFile, FileOfExactlyTheLimitIsRead)
{
    WriteBytes(_path, PaddedFile(KeldraConfigurationReader::MaximumFileSize));
    const auto manager = StartManager();
    EXPECT_EQ("padded/pass", Describe(manager->GetCredentials(0)));
    EXPECT_TRUE(_log.Entries().empty());
}

TEST_F(CredentialsFile, DeepNestingInAnIgnoredMemberIsHarmless)
{
    WriteBytes(_path, R"({"baseStations": [{"index": 0, "username": "a", "credentials": "eA=="}], "x": )" +
                          Nested(500000) + "}");
    const auto manager = StartManager();
    EXPECT_EQ("a/x", Describe(manager->GetCredentials(0)));
}

struct UnopenableCase {
    const char* name;
    std::function<void(const boost::filesystem::path&)> replaceFile;
};

class UnopenableFile : public CredentialsFile, public testing::WithParamInterface<UnopenableCase> {};

TEST_P(UnopenableFile, IsLoggedAndThePreviousTableStays)
{
    WriteBytes(_path, AdminFile);
    const auto manager = StartManager();
    boost::filesystem::remove(_path);
    GetParam().replaceFile(_path);

    _clock.Advance(KeldraConfigurationManager::UpdateCycle * 2);
    EXPECT_EQ((std::vector<std::string>{CouldNotOpen(), CouldNotOpen()}), _log.Messages(Error));
    EXPECT_EQ("admin/secret", Describe(manager->GetCredentials(0)));
}

INSTANTIATE_TEST_SUITE_P(
    CredentialsFile, UnopenableFile,
    testing::Values(UnopenableCase{"Vanished", [](const boost::filesystem::path&) {}},
                    UnopenableCase{"Directory",
                                   [](const boost::filesystem::path& path) {
                                       boost::filesystem::create_directory(path);
                                   }},
                    UnopenableCase{"Fifo",
                                   [](const boost::filesystem::path& path) {
                                       ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
                                   }},
                    UnopenableCase{"DanglingLink",
                                   [](const boost::filesystem::path& path) {
                                       boost::filesystem::create_symlink(path.parent_path() / "nowhere", path);
                                   }}),
    [](const testing::TestParamInfo<UnopenableCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(CredentialsFile, DestroyingTheManagerWithTheWaitPendingIsSafe)
{
    WriteBytes(_path, AdminFile);
    auto manager = StartManager();
    ASSERT_EQ(1u, _clock.PendingWaitCount());
    manager.reset();
    EXPECT_EQ(0u, _clock.PendingWaitCount());
    EXPECT_EQ(0u, _clock.TimerCount());
    _clock.Advance(KeldraConfigurationManager::UpdateCycle * 2);
    EXPECT_TRUE(_log.Entries().empty());
}

// As in the plug-in: built and destroyed on the host's thread, queried on
// the worker thread that runs the event loop.
TEST_F(CredentialsFile, ManagerWorksAcrossTheHostAndTheWorkerThread)
{
    WriteBytes(_path, AdminFile);
    boost::asio::io_service ioService;
    auto work = boost::asio::make_work_guard(ioService);
    std::thread worker([&ioService] { ioService.run(); });

    auto manager = std::make_unique<KeldraConfigurationManager>(
        std::make_unique<KeldraConfigurationReader>(_path),
        std::make_unique<Oru::WaitableTimerWrapper<Oru::SteadyTimer>>(ioService));
    std::promise<std::string> answer;
    boost::asio::post(ioService, [&answer, &manager] { answer.set_value(Describe(manager->GetCredentials(0))); });
    EXPECT_EQ("admin/secret", answer.get_future().get());

    // The pending wait ends with the manager: the loop runs out of work.
    manager.reset();
    work.reset();
    worker.join();
    EXPECT_TRUE(_log.Entries().empty());
}

// A timer whose completions the test delivers by hand, also late ones.
class HandDeliveredTimer final : public Oru::WaitableTimer {
public:
    explicit HandDeliveredTimer(std::shared_ptr<std::vector<WaitHandler>> handlers) : _handlers(std::move(handlers)) {}
    boost::asio::io_service& get_io_service() override { return _ioService; }
    void async_wait(WaitHandler handler) override { _handlers->push_back(std::move(handler)); }
    std::size_t cancel() override { return 0; }
    std::size_t expires_from_now(const Duration& duration) override
    {
        _expiry = duration;
        return 0;
    }
    Duration expires_from_now() const override { return _expiry; }

private:
    boost::asio::io_service _ioService;
    std::shared_ptr<std::vector<WaitHandler>> _handlers;
    Duration _expiry{};
};

class CountingReader final : public IKeldraConfigurationReader {
public:
    explicit CountingReader(std::shared_ptr<int> updates) : _updates(std::move(updates)) {}
    boost::optional<Credentials> GetCredentials(unsigned char) override { return boost::none; }
    void UpdateCredentials() override { ++*_updates; }

private:
    std::shared_ptr<int> _updates;
};

TEST(ConfigurationManager, ASuccessfulCompletionAfterDestructionDoesNothing)
{
    const auto handlers = std::make_shared<std::vector<Oru::WaitableTimer::WaitHandler>>();
    const auto updates = std::make_shared<int>(0);
    auto manager = std::make_unique<KeldraConfigurationManager>(std::make_unique<CountingReader>(updates),
                                                                std::make_unique<HandDeliveredTimer>(handlers));
    EXPECT_EQ(1, *updates);
    ASSERT_EQ(1u, handlers->size());

    handlers->back()(boost::system::error_code());
    EXPECT_EQ(2, *updates);
    ASSERT_EQ(2u, handlers->size());
    handlers->back()(boost::asio::error::operation_aborted);
    EXPECT_EQ(2, *updates);

    manager.reset();
    handlers->back()(boost::system::error_code());
    EXPECT_EQ(2, *updates);
    EXPECT_EQ(2u, handlers->size());
}

class NoCommonWebService final : public Oru::ICommonWebService {};

rapidjson::Document Parameters(const std::string& json)
{
    rapidjson::Document document;
    document.Parse(json.data(), json.size());
    EXPECT_FALSE(document.HasParseError()) << json;
    return document;
}

TEST_F(CredentialsFile, ChangeThroughTheWebServiceReachesTheRunningManager)
{
    const auto manager = StartManager();
    NoCommonWebService host;
    KeldraProductWebService service(host, _path);
    const auto answer = service.HandleRequest(
        "setBaseStationConfig", Parameters(R"({"index": 3, "username": "installer", "credentials": "c2VjcmV0"})"));
    ASSERT_TRUE(std::holds_alternative<rapidjson::Document>(answer));

    EXPECT_EQ("(none)", Describe(manager->GetCredentials(3)));
    _clock.Advance(KeldraConfigurationManager::UpdateCycle);
    EXPECT_EQ("installer/secret", Describe(manager->GetCredentials(3)));
    EXPECT_TRUE(_log.Messages(Error).empty());
}

// The file after setting index 2 on the initial file: the entry moves to
// the end, in the four-space layout.
const char* const RewrittenFile = "{\n"
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
                                  "}";

// Whether the reader accepts the file, and the credentials of index 2.
std::string ReadBack(const boost::filesystem::path& path)
{
    std::string outcome = "(not read)";
    KeldraConfigurationReader::ReadConfiguration(
        path, [&outcome](Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type result, std::time_t) {
            if (Oru::GetMismatch(result) != nullptr) {
                outcome = "(mismatch)";
                return;
            }
            outcome = "(no credentials)";
            for (const auto& entry : boost::get<BaseStationsWithCredentialsConfig>(result).baseStations) {
                if (entry.index == 2 && entry.username) {
                    outcome = entry.username->Get();
                }
            }
        });
    return outcome;
}

TEST(CredentialsFileRewrite, AWriterDyingAtAnyStepLeavesTheOldOrTheNewFile)
{
    const std::vector<std::pair<AtomicWriteStep, bool>> steps = {
        {AtomicWriteStep::TemporaryCreated, false}, {AtomicWriteStep::ContentWritten, false},
        {AtomicWriteStep::ContentSynced, false},    {AtomicWriteStep::TemporaryClosed, false},
        {AtomicWriteStep::Installed, true},         {AtomicWriteStep::DirectorySynced, true}};
    for (const auto& step : steps) {
        SCOPED_TRACE(static_cast<int>(step.first));
        TemporaryDirectory directory;
        const auto path = directory.Path() / "orubasestationconfig.json";
        NoCommonWebService host;
        const KeldraProductWebService creator(host, path);
        ASSERT_EQ(InitialFile(), ReadBytes(path));

        const pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            const AtomicWriteStep dyingStep = step.first;
            KeldraProductWebService dyingService(host, path, [dyingStep](AtomicWriteStep reached) {
                if (reached == dyingStep) {
                    _exit(0);
                }
                return boost::system::error_code();
            });
            dyingService.HandleRequest(
                "setBaseStationConfig",
                Parameters(R"({"index": 2, "username": "admin", "credentials": "c2VjcmV0"})"));
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(0, WEXITSTATUS(status)) << "the writer did not reach the step";

        const bool isNew = step.second;
        EXPECT_EQ(isNew ? std::string(RewrittenFile) : InitialFile(), ReadBytes(path));
        EXPECT_EQ(isNew ? "admin" : "(no credentials)", ReadBack(path));
        EXPECT_EQ(0600u, PermissionBits(path));

        // What the dead writer left behind does not stand in the way.
        KeldraProductWebService service(host, path);
        const auto answer = service.HandleRequest(
            "setBaseStationConfig", Parameters(R"({"index": 2, "username": "later", "credentials": "eA=="})"));
        EXPECT_TRUE(std::holds_alternative<rapidjson::Document>(answer));
        EXPECT_EQ("later", ReadBack(path));
    }
}

}  // namespace
