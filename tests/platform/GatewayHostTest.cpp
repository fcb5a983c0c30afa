#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "BusConsole.h"
#include "GatewayHost.h"
#include "HttpTestClient.h"
#include "PluginLibrary.h"

extern char** environ;

using namespace Oru;

namespace {

std::vector<std::string> ReadLines(const boost::filesystem::path& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path.string());
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

void WriteFile(const boost::filesystem::path& path, const std::string& content)
{
    std::ofstream(path.string()) << content;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A fresh directory for one test, removed afterwards.
class TemporaryDirectory {
public:
    TemporaryDirectory()
        : _path(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("gateway-host-%%%%%%%%"))
    {
        boost::filesystem::create_directories(_path);
    }
    ~TemporaryDirectory()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(_path, ignored);
    }
    const boost::filesystem::path& Path() const { return _path; }

private:
    boost::filesystem::path _path;
};

const std::string Parameters = "text 1 = 0123456789\nnumber 1 = 3\n";

// The values the fake plug-in sends in Run, as the console shows them.
const std::vector<std::string> SentByFakeRun = {
    "app->bus CO 3 (station 1, thermostat 1, setpoint status) float 21.5",
    "app->bus CO 503 (system, base station error) bool false",
    "app->bus CO 504 (system, base station error text) text \"-0:NoError\"",
    "app->bus CO 38 (station 1, slot 1, power level status) byte 7",
    "app->bus CO 513 (system, arrival date and time status) datetime 2026-12-24T18:00:00",
    "app->bus CO 515 (system, arrival time status) time 18:30",
    "LED error code 2",
};

TEST(PluginLibrary, RefusesWhatIsNotAPlugin)
{
    struct Case {
        std::string path;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"/nonexistent/libkeldraapp.so", "cannot load the plug-in '/nonexistent/libkeldraapp.so': "},
        {ORU_HOST_LIBRARY, "the plug-in has no entry point createOruApp"},
    };
    for (const auto& entry : cases) {
        std::string error;
        EXPECT_EQ(nullptr, PluginLibrary::Load(entry.path, error));
        EXPECT_EQ(0u, error.find(entry.error)) << error;
    }
}

TEST(PluginLibrary, RunsThePluginAsTheGatewayDoes)
{
    TemporaryDirectory directory;
    const auto record = directory.Path() / "record.txt";
    ::setenv("FAKE_PLUGIN_RECORD", record.c_str(), 1);

    std::ostringstream output;
    {
        std::string error;
        auto plugin = PluginLibrary::Load(FAKE_PLUGIN_LIBRARY, error);
        ASSERT_NE(nullptr, plugin) << error;
        BusConsole console(output);
        EtsParameters parameters;
        parameters.texts[1] = "0123456789";
        parameters.numbers[1] = 3;
        GatewayHost host(parameters, "/some/directory", console);

        OruApp::IOruApp* app = plugin->createOruApp();
        ASSERT_NE(nullptr, app);
        ASSERT_TRUE(app->Init(&host));
        ASSERT_TRUE(app->Run());
        EXPECT_EQ(2, host.GetLedErrorCode());
        app->OnValueReceived(2, 21.3f);
        app->Exit(&host);
        plugin->deleteOruApp(app);
    }
    ::unsetenv("FAKE_PLUGIN_RECORD");

    const std::vector<std::string> expected = {
        "createOruApp",
        "Init text 1=0123456789 number 1=3 directory=/some/directory",
        "Run",
        "received 2 float 21.3",
        "Exit same host",
        "deleteOruApp",
    };
    EXPECT_EQ(expected, ReadLines(record));
    for (const auto& line : SentByFakeRun) {
        EXPECT_TRUE(Contains(output.str(), line)) << line << "\nin:\n" << output.str();
    }
}

TEST(GatewayHost, ServesParametersFromItsTable)
{
    std::ostringstream output;
    BusConsole console(output);
    EtsParameters parameters;
    parameters.texts[2] = "";
    parameters.numbers[7] = -1;
    GatewayHost host(parameters, "/dir", console);

    std::string text = "unchanged";
    std::int32_t number = 42;
    EXPECT_TRUE(host.GetTextParameter(2, text));
    EXPECT_EQ("", text);
    EXPECT_FALSE(host.GetTextParameter(1, text));
    EXPECT_TRUE(host.GetNumberParameter(7, number));
    EXPECT_EQ(-1, number);
    EXPECT_FALSE(host.GetNumberParameter(2, number));
    EXPECT_FALSE(host.GetNumberParameter(-3, number));
    EXPECT_EQ("/dir", host.GetConfigurationDirectory());
    EXPECT_TRUE(host.SendSwitch(9999, true)) << "the gateway takes any CO; the console says what it is";
    EXPECT_TRUE(Contains(output.str(), "app->bus CO 9999 (outside 1..517) bool true"));
}

TEST(GatewayHost, SendsFromTwoThreadsKeepTheirLinesWhole)
{
    // The plug-in sends from the host's thread and from its worker thread.
    std::ostringstream output;
    BusConsole console(output);
    GatewayHost host({}, "/dir", console);
    constexpr int SendsPerThread = 200;
    std::thread worker([&host]() {
        for (int i = 0; i < SendsPerThread; ++i) {
            host.SendText(504, "worker");
        }
    });
    for (int i = 0; i < SendsPerThread; ++i) {
        host.SendFloat(3, 20.5f);
        host.SetLedErrorCode(i);
    }
    worker.join();

    std::istringstream lines(output.str());
    int texts = 0;
    int floats = 0;
    int leds = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::string text = line.substr(13);  // after "HH:MM:SS.mmm "
        if (text == "app->bus CO 504 (system, base station error text) text \"worker\"") {
            ++texts;
        } else if (text == "app->bus CO 3 (station 1, thermostat 1, setpoint status) float 20.5") {
            ++floats;
        } else if (text.compare(0, 15, "LED error code ") == 0) {
            ++leds;
        } else {
            ADD_FAILURE() << "garbled line: " << line;
        }
    }
    EXPECT_EQ(SendsPerThread, texts);
    EXPECT_EQ(SendsPerThread, floats);
    EXPECT_EQ(SendsPerThread, leds);
    EXPECT_EQ(SendsPerThread - 1, host.GetLedErrorCode());
}

// The host program run as a child process with pipes on its standard
// streams.
class HostProcess {
public:
    HostProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment)
    {
        int input[2];
        int output[2];
        int errors[2];
        EXPECT_EQ(0, ::pipe2(input, O_CLOEXEC));
        EXPECT_EQ(0, ::pipe2(output, O_CLOEXEC));
        EXPECT_EQ(0, ::pipe2(errors, O_CLOEXEC));

        // Everything the child needs is made before fork.
        std::vector<std::string> argumentTexts = {GATEWAY_HOST_PROGRAM};
        argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& argument : argumentTexts) {
            argv.push_back(&argument[0]);
        }
        argv.push_back(nullptr);
        std::vector<std::string> environmentTexts;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (environment.count(text.substr(0, text.find('='))) == 0) {
                environmentTexts.push_back(text);
            }
        }
        for (const auto& entry : environment) {
            environmentTexts.push_back(entry.first + "=" + entry.second);
        }
        std::vector<char*> envp;
        for (auto& entry : environmentTexts) {
            envp.push_back(&entry[0]);
        }
        envp.push_back(nullptr);

        _pid = ::fork();
        if (_pid == 0) {
            ::dup2(input[0], STDIN_FILENO);
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(errors[1], STDERR_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
        ::close(errors[1]);
        _input = input[1];
        _output = output[0];
        _errors = errors[0];
    }

    ~HostProcess()
    {
        if (_pid > 0) {
            ::kill(_pid, SIGKILL);
            ::waitpid(_pid, nullptr, 0);
        }
        for (const int fd : {_input, _output, _errors}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    void Write(const std::string& text) { ASSERT_EQ(static_cast<ssize_t>(text.size()), ::write(_input, text.data(), text.size())); }

    void CloseInput()
    {
        ::close(_input);
        _input = -1;
    }

    // Reads the output until it contains the text; false after 60 seconds
    // (a slow sanitizer build) or at the end of the output.
    bool WaitForOutput(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!Contains(_outputText, text)) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(deadline)) {
                return Contains(_outputText, text);
            }
        }
        return true;
    }

    void Signal(int signal) { ::kill(_pid, signal); }

    // The exit status after the output has ended; -1 when the program did
    // not end by itself in time.
    int Wait()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (ReadSome(deadline)) {
        }
        int status = 0;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(_pid, SIGKILL);
        }
        ::waitpid(_pid, &status, 0);
        _pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Output() const { return _outputText; }
    const std::string& Errors() const { return _errorText; }

private:
    // Reads what is there from both streams; false when both have ended or
    // time is up.
    bool ReadSome(std::chrono::steady_clock::time_point deadline)
    {
        std::vector<pollfd> streams;
        if (_output >= 0) {
            streams.push_back({_output, POLLIN, 0});
        }
        if (_errors >= 0) {
            streams.push_back({_errors, POLLIN, 0});
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (streams.empty() || left.count() <= 0) {
            return false;
        }
        if (::poll(streams.data(), streams.size(), static_cast<int>(left.count())) <= 0) {
            return false;
        }
        for (const auto& stream : streams) {
            if (stream.revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = ::read(stream.fd, buffer, sizeof buffer);
            int& fd = stream.fd == _output ? _output : _errors;
            std::string& text = stream.fd == _output ? _outputText : _errorText;
            if (count <= 0) {
                ::close(fd);
                fd = -1;
            } else {
                text.append(buffer, static_cast<std::size_t>(count));
            }
        }
        return true;
    }

    pid_t _pid = -1;
    int _input = -1;
    int _output = -1;
    int _errors = -1;
    std::string _outputText;
    std::string _errorText;
};

class GatewayHostProgram : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(_parameters, Parameters); }

    std::vector<std::string> Arguments(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> arguments = {"--plugin", FAKE_PLUGIN_LIBRARY, "--parameters", _parameters.string(),
                                              "--config-dir", (_directory.Path() / "config").string()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }

    std::map<std::string, std::string> Environment() const { return {{"FAKE_PLUGIN_RECORD", _record.string()}}; }

    std::vector<std::string> Record() const { return ReadLines(_record); }

    TemporaryDirectory _directory;
    boost::filesystem::path _parameters = _directory.Path() / "parameters.txt";
    boost::filesystem::path _record = _directory.Path() / "record.txt";
};

TEST_F(GatewayHostProgram, StopsCleanlyOnSigtermAndSigint)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        boost::filesystem::remove(_record);
        HostProcess host(Arguments({"--http-port", "0"}), Environment());
        ASSERT_TRUE(host.WaitForOutput("Running.")) << host.Output() << host.Errors();

        // The configuration page is up on the port it names.
        const std::string marker = "Configuration page: http://127.0.0.1:";
        const auto at = host.Output().find(marker);
        ASSERT_NE(std::string::npos, at) << host.Output();
        const auto port = static_cast<unsigned short>(std::stoi(host.Output().substr(at + marker.size())));
        EXPECT_EQ(200u, Testing::HttpRequest(port, boost::beast::http::verb::get, "/").status);

        host.Signal(signal);
        EXPECT_EQ(0, host.Wait()) << host.Errors();
        EXPECT_TRUE(Contains(host.Output(), "Stopping (" + std::string(::strsignal(signal)) + ")")) << host.Output();
        EXPECT_TRUE(Contains(host.Output(), "Stopped.")) << host.Output();
        for (const auto& line : SentByFakeRun) {
            EXPECT_TRUE(Contains(host.Output(), line)) << line;
        }
        const std::vector<std::string> expected = {
            "createOruApp",
            "Init text 1=0123456789 number 1=3 directory=" + (_directory.Path() / "config").string(),
            "Run",
            "CreateProductWebService",
            "Exit same host",
            "deleteOruApp",
        };
        EXPECT_EQ(expected, Record());
        EXPECT_TRUE(boost::filesystem::is_directory(_directory.Path() / "config")) << "created by the host";
    }
}

TEST_F(GatewayHostProgram, DeliversConsoleLinesToThePlugin)
{
    HostProcess host(Arguments(), Environment());
    ASSERT_TRUE(host.WaitForOutput("Running."));
    host.Write("2 float 21.3\n510 bool true\nnonsense\n37 byte 7\n5 word 65535\n5 dword 4294967295\n");
    host.Write("5 long -7\n512 datetime 2026-12-24T18:00\n514 time 18:30\n504 text hello world\nhelp\n");
    // A line may arrive in pieces.
    host.Write("516 bool fa");
    ASSERT_TRUE(host.WaitForOutput("Bus console:"));
    host.Write("lse\nquit\n2 float 99\n");
    EXPECT_EQ(0, host.Wait()) << host.Errors();

    const std::vector<std::string> received = {
        "received 2 float 21.3",          "received 510 bool true",
        "received 37 byte 7",             "received 5 word 65535",
        "received 5 dword 4294967295",    "received 5 long -7",
        "received 512 datetime 2026-12-24T18:00:00", "received 514 time 18:30",
        "received 504 text [hello world]", "received 516 bool false",
    };
    std::vector<std::string> record;
    for (const auto& line : Record()) {
        if (line.compare(0, 9, "received ") == 0) {
            record.push_back(line);
        }
    }
    EXPECT_EQ(received, record) << "nothing after quit";
    EXPECT_TRUE(Contains(host.Output(), "bus->app CO 2 (station 1, thermostat 1, setpoint input) float 21.3"));
    EXPECT_TRUE(Contains(host.Output(), "line 3: unknown command 'nonsense'")) << host.Output();
    EXPECT_TRUE(Contains(host.Output(), "Stopping (quit)"));
}

TEST_F(GatewayHostProgram, RunsAScript)
{
    WriteFile(_directory.Path() / "script.txt", "37 byte 7\nsleep 0.01\n# comment\n2 float 21.5\n41 bool maybe\nquit\n");
    HostProcess host(Arguments({"--script", (_directory.Path() / "script.txt").string()}), Environment());
    EXPECT_EQ(0, host.Wait()) << host.Errors();
    const auto record = Record();
    ASSERT_GE(record.size(), 6u);
    EXPECT_EQ("received 37 byte 7", record[3]);
    EXPECT_EQ("received 2 float 21.5", record[4]);
    EXPECT_EQ("Exit same host", record[5]);
    EXPECT_TRUE(Contains(host.Output(), "script line 5: bad bool value 'maybe'")) << host.Output();
}

TEST_F(GatewayHostProgram, KeepsRunningAfterTheEndOfItsInput)
{
    HostProcess host(Arguments(), Environment());
    ASSERT_TRUE(host.WaitForOutput("Running."));
    host.Write("37 byte 1\n");
    host.CloseInput();
    ASSERT_TRUE(host.WaitForOutput("bus->app CO 37"));
    host.Signal(SIGTERM);
    EXPECT_EQ(0, host.Wait());
}

TEST_F(GatewayHostProgram, FailedInitEndsWithStatusOne)
{
    auto environment = Environment();
    environment["FAKE_PLUGIN_FAIL_INIT"] = "1";
    HostProcess host(Arguments(), environment);
    EXPECT_EQ(1, host.Wait());
    EXPECT_TRUE(Contains(host.Errors(), "The plug-in's Init failed"));
    const std::vector<std::string> expected = {
        "createOruApp", "Init text 1=0123456789 number 1=3 directory=" + (_directory.Path() / "config").string(),
        "Exit same host", "deleteOruApp"};
    EXPECT_EQ(expected, Record());
}

TEST_F(GatewayHostProgram, BadSetupEndsWithStatusTwo)
{
    WriteFile(_directory.Path() / "bad.txt", "text 1 = ok\nnumber 1 = many\n");
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    const std::vector<Case> cases = {
        {Arguments({"--parameters", (_directory.Path() / "bad.txt").string()}),
         "bad.txt: line 2: bad value of number 1 'many'"},
        {Arguments({"--parameters", (_directory.Path() / "missing.txt").string()}), "Cannot read the parameter file"},
        {Arguments({"--plugin", "/nonexistent.so"}), "cannot load the plug-in '/nonexistent.so'"},
        {Arguments({"--script", (_directory.Path() / "missing.txt").string()}), "Cannot read the script"},
        {Arguments({"--http-port", "65536"}), "bad port '65536'"},
        {Arguments({"--frobnicate"}), "unknown option '--frobnicate'"},
        {Arguments({"--plugin"}), "option --plugin needs a value"},
    };
    for (const auto& entry : cases) {
        HostProcess host(entry.arguments, Environment());
        EXPECT_EQ(2, host.Wait()) << entry.error;
        EXPECT_TRUE(Contains(host.Errors(), entry.error)) << host.Errors();
    }
    EXPECT_FALSE(boost::filesystem::exists(_record)) << "the plug-in was never created";
}

TEST_F(GatewayHostProgram, HelpDescribesTheOptions)
{
    HostProcess host({"--help"}, Environment());
    EXPECT_EQ(0, host.Wait());
    for (const char* option : {"--plugin", "--parameters", "--config-dir", "--http-port", "--script"}) {
        EXPECT_TRUE(Contains(host.Output(), option)) << option;
    }
}

}  // namespace
