#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "CredentialsFileTesting.h"
#include "tests/testing/VirtualClockSystem.h"
#include "discovery/AtomicFileWriter.h"
#include "discovery/KeldraConfigurationManager.h"

using namespace Keldra;
using namespace Keldra::Testing;
using Lines = std::vector<std::string>;
const auto Error = log4cplus::ERROR_LOG_LEVEL;
const auto Cycle = KeldraConfigurationManager::UpdateCycle;

namespace {

class CredentialsFile : public CredentialsFileFixture {
protected:
    void Start()
    {
        _manager = std::make_unique<KeldraConfigurationManager>(std::make_unique<KeldraConfigurationReader>(_path),
                                                                _clock.CreateTimer());
    }
    std::string Get(unsigned char index) { return Describe(_manager->GetCredentials(index)); }
    std::string CouldNotOpen() const { return "Could not open the config file '" + Quoted(_path) + "'!"; }

    Oru::Testing::VirtualClockSystem _clock;
    std::unique_ptr<KeldraConfigurationManager> _manager;
};

// One missing directory level is created; more is logged, not thrown.
TEST_F(CredentialsFile, MissingDirectoryAndFileAreCreatedPrivately)
{
    const auto config = _directory / "config";
    _path = config / "missing" / "orubasestationconfig.json";
    ASSERT_NO_THROW(Start());
    EXPECT_EQ(1u, _log.Count(Error, "Failed to create initial empty configuration '" + Quoted(_path) + "'!"));
    EXPECT_EQ(1u, _log.Count(Error, CouldNotOpen()));
    EXPECT_FALSE(boost::filesystem::exists(config));

    _log.Clear();
    _path = config / "orubasestationconfig.json";
    Start();
    EXPECT_EQ(InitialFile, ReadBytes(_path));
    EXPECT_EQ(0600u, Status(_path).st_mode & 07777);
    EXPECT_EQ(1, EntryCount(config)) << "no temporary file left";
    EXPECT_EQ((Lines{"Created directory '" + Quoted(config) + "'!",
                     "Creating initial empty configuration '" + Quoted(_path) + "'!"}),
              _log.Messages(log4cplus::INFO_LOG_LEVEL));
    EXPECT_EQ(2u, _log.Entries().size());
    EXPECT_EQ("(none)", Get(0));
}

// Read in the constructor. Entries without user name or password are skipped
// silently, and of two with the same index the first counts. Decoding stops
// at the first "=" or character outside the alphabet; a password that is not
// UTF-8 drops only its entry.
TEST_F(CredentialsFile, EntriesAndTheirLenientBase64Passwords)
{
    const std::pair<std::string, std::string> cases[] = {  // members of entry i, credentials of index i
        {R"("username": "admin")", "(none)"}, {R"("credentials": "c2VjcmV0")", "(none)"},
        {R"("username": null, "credentials": "c2VjcmV0")", "(none)"}, {R"("username": "", "credentials": "")", "/"},
        {"c2VjcmV0", "secret"}, {"c2VjcmV0IQ==", "secret!"}, {"c2VjcmV0IQ", "secret!"}, {"c2VjcmV0IT8", "secret!?"},
        {"YWJjZ", "abc"}, {"YQ==YWJj", "a"}, {"YW Jj", "a"}, {"YWJj\\nZGVm", "abc"}, {"YWJj-_", "abc"},
        {"Pz8/Pz4+", "??\?\?>>"}, {"=", ""}, {"w6nDqQ==", "\xC3\xA9\xC3\xA9"}, {"AA==", std::string("\0", 1)},
        {"wyg=", "(none)"}, {"gA==", "(none)"}, {"7aCA", "(none)"}};
    std::string file = R"({"baseStations": [)";
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto& members = cases[index].first;
        file += R"({"index": )" + std::to_string(index) + ", " +
                (members[0] == '"' ? members : R"("username": "user", "credentials": ")" + members + "\"") + "}, ";
    }
    WriteBytes(_path, file + R"({"index": 4, "username": "second", "credentials": "eA=="}]})");
    Start();
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto& [members, expected] = cases[index];
        EXPECT_EQ(members[0] == '"' || expected == "(none)" ? expected : "user/" + expected,
                  Get(static_cast<unsigned char>(index)))
            << members;
    }
    EXPECT_EQ((Lines(3, "Sanity check of credential hash failed!")), _log.Messages(Error));
    EXPECT_EQ(3u, _log.Entries().size());
}

// The file is read every cycle unless its time is older than the last read's.
TEST_F(CredentialsFile, ChangedFileIsServedAfterTheNextCycle)
{
    const std::time_t stored = 1600000000;
    WriteBytes(_path, AdminFile, stored);
    Start();
    WriteBytes(_path, R"({"baseStations": [{"index": 0, "username": "new", "credentials": "cGFzcw=="}]})", stored);
    _clock.Advance(Cycle - boost::chrono::nanoseconds(1));
    EXPECT_EQ("admin/secret", Get(0));
    _clock.Advance(boost::chrono::nanoseconds(1));
    EXPECT_EQ("new/pass", Get(0));

    WriteBytes(_path, R"({"baseStations": [{"index": 0, "username": "older", "credentials": "cGFzcw=="}]})",
               stored - 100);
    _clock.Advance(Cycle * 3);
    EXPECT_EQ("new/pass", Get(0));
    boost::filesystem::last_write_time(_path, stored);
    _clock.Advance(Cycle);
    EXPECT_EQ("older/pass", Get(0));
    WriteBytes(_path, R"({"baseStations": []})");
    _clock.Advance(Cycle);
    EXPECT_EQ("(none)", Get(0));
    EXPECT_TRUE(_log.Entries().empty());
    EXPECT_EQ(1u, _clock.PendingWaitCount());
}

// A valid credentials file of exactly size bytes.
std::string PaddedFile(std::size_t size)
{
    const std::string start = R"({"baseStations": [{"index": 0, "username": "padded", "credentials": "cGFzcw=="}],)"
                              R"( "padding": ")";
    return start + std::string(size - start.size() - 2, 'x') + "\"}";
}

std::string Nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// A file that cannot be opened or is refused is logged with its reason (the
// reasons a parse gives are the JSON structure's own) and the previous table
// stays; deep nesting or a huge file exhausts neither stack nor memory.
TEST_F(CredentialsFile, FilesAreReadOrRejectedWithTheirReason)
{
    const auto file = [this](const std::string& content) { return [this, content] { WriteBytes(_path, content); }; };
    const std::string read = "Failed to read the config file '" + Quoted(_path) + "'", notJson = read + "!";
    const std::tuple<std::function<void()>, std::string, const char*> cases[] = {  // replace, error line, credentials
        {file(""), notJson, "admin/secret"},
        {file(R"({"baseStations": [{"index": 0, "username": "ad)"), notJson, "admin/secret"},
        {file(R"([{"baseStations": []}])"), notJson, "admin/secret"},
        {file(PaddedFile(KeldraConfigurationReader::MaximumFileSize + 1)), notJson, "admin/secret"},
        {file(PaddedFile(KeldraConfigurationReader::MaximumFileSize)), "", "padded/pass"},
        {file(Nested(500000)), notJson, "admin/secret"},
        {file(std::string(AdminFile).insert(1, R"("x": )" + Nested(500000) + ", ")), "", "admin/secret"},
        {file(R"({"baseStations": [{"index": 0}, {"index": 300}]})"),
         read + ": [baseStations][1][index] -> Integer out of range", "admin/secret"},
        {[] {}, CouldNotOpen(), "admin/secret"},  // vanished
        {[this] { boost::filesystem::create_directory(_path); }, CouldNotOpen(), "admin/secret"},
        {[this] { ASSERT_EQ(0, mkfifo(_path.c_str(), 0600)); }, CouldNotOpen(), "admin/secret"},  // must not block
        {[this] {  // a link planted in the directory is not followed
             WriteBytes(_directory / "planted.json", R"({"baseStations": [{"index": 0, "username": "planted"}]})");
             boost::filesystem::create_symlink(_directory / "planted.json", _path);
         },
         CouldNotOpen(), "admin/secret"},
    };
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto& [replace, line, credentials] = cases[index];
        SCOPED_TRACE(index);
        WriteBytes(_path, AdminFile);
        Start();
        boost::filesystem::remove(_path);
        replace();
        _log.Clear();
        _clock.Advance(Cycle);
        EXPECT_EQ(line.empty() ? Lines{} : Lines{line}, _log.Messages(Error));
        EXPECT_EQ(line.empty() ? 0u : 1u, _log.Entries().size());
        EXPECT_EQ(credentials, Get(0));
        EXPECT_EQ(1u, _clock.PendingWaitCount());
        boost::filesystem::remove(_path);
    }
}

// Others may read the password: said once per reader, until the file is
// private again.
TEST_F(CredentialsFile, AFileOthersCanReadIsWarnedAboutOnce)
{
    const std::pair<mode_t, std::size_t> cases[] = {{0600, 0}, {0400, 0}, {0640, 1}, {0604, 1}, {0666, 1}};
    for (const auto& [mode, warnings] : cases) {
        WriteBytes(_path, AdminFile);
        ASSERT_EQ(0, chmod(_path.c_str(), mode));
        _log.Clear();
        Start();
        _clock.Advance(Cycle * 3);
        EXPECT_EQ(warnings, _log.Messages(log4cplus::WARN_LOG_LEVEL).size()) << std::oct << mode;
        EXPECT_EQ("admin/secret", Get(0));
    }
}

// A read whose expiry is queued when the manager goes does nothing.
TEST_F(CredentialsFile, ACompletionAfterDestructionDoesNothing)
{
    for (const bool destroyFirst : {false, true}) {
        Start();
        boost::filesystem::remove(_path);
        _clock.ExpireWithoutRunning(Cycle);
        if (destroyFirst) {
            _manager.reset();
        }
        _log.Clear();
        _clock.RunPending();
        EXPECT_EQ(destroyFirst ? 0u : 1u, _log.Count(Error, CouldNotOpen())) << destroyFirst;
    }
}

// Whether a write fails or its process dies after a step, the path names the
// complete old or the complete new file, private. A failure leaves no
// temporary file; what a dead writer left does not stand in the way.
TEST_F(CredentialsFile, AWriteStoppedAtAnyStepLeavesTheOldOrTheNewFile)
{
    const auto write = [](const boost::filesystem::path& path, AtomicWriteStep stop, bool die) {
        return WriteFileAtomically(path, "new", AtomicWriteMode::ReplaceExisting, [stop, die](AtomicWriteStep reached) {
            if (reached == stop && die) {
                _exit(0);
            }
            return reached == stop ? boost::system::errc::make_error_code(boost::system::errc::io_error)
                                   : boost::system::error_code();
        });
    };
    for (const AtomicWriteStep step : AllWriteSteps) {
        SCOPED_TRACE(static_cast<int>(step));
        const bool installed = step >= AtomicWriteStep::Installed;
        const auto directory = _directory / std::to_string(static_cast<int>(step));
        boost::filesystem::create_directory(directory);
        WriteBytes(directory / "failed", "old");
        _log.Clear();
        // After the rename only the directory sync can fail: logged, not returned.
        EXPECT_EQ(!installed, static_cast<bool>(write(directory / "failed", step, false)));
        EXPECT_EQ(installed ? 1u : 0u, _log.Entries().size());
        EXPECT_EQ(1, EntryCount(directory)) << "no temporary file left";

        WriteBytes(directory / "killed", "old");
        const pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            write(directory / "killed", step, true);
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer did not reach the step";
        for (const auto* name : {"failed", "killed"}) {
            EXPECT_EQ(installed ? "new" : "old", ReadBytes(directory / name)) << name;
            EXPECT_EQ(0600u, Status(directory / name).st_mode & 07777) << name;
        }
        EXPECT_FALSE(WriteFileAtomically(directory / "killed", "later", AtomicWriteMode::ReplaceExisting));
        EXPECT_EQ("later", ReadBytes(directory / "killed"));
    }
}

}  // namespace
