#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/filesystem.hpp>

#include "platform/host/BusConsole.h"
#include "tests/testing/ChildProcess.h"
#include "platform/host/ConfigurationPageServer.h"
#include "platform/host/EtsParameterFile.h"
#include "platform/host/GatewayHost.h"

using namespace Oru;
using Oru::Testing::ChildProcess;
namespace http = boost::beast::http;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(EtsParameterFile, ReadsTextsAndNumbers)
{
    std::istringstream input("# two stations\n"
                             "text 1 = 0123456789ABCDEFGHIJ\n"
                             "\n"
                             "  text   3   =   spaced value  \r\n"
                             "\tnumber\t2\t=\t-5\r\n"
                             "   # indented comment\n"
                             "number 7 = 0x1\n"
                             "text 11 = \"  leading and trailing  \"\n"
                             "text 12 = \"\"\n"
                             "text 13 =\n"
                             "text 14 = \"\\xC3\\x28 invalid UTF-8\"\n"
                             "text 15 = a=b\n"
                             "number 11 = 2147483647\n"
                             "number 12 = -2147483648\n"
                             "number 13 = 0xFFFFFFFF\n"
                             "number 14 = 4294967295\n"
                             "number 15 = 0x87654321\n");
    const auto parsed = ParseEtsParameters(input);
    const std::map<int, std::string> texts = {{1, "0123456789ABCDEFGHIJ"}, {3, "spaced value"},
                                              {11, "  leading and trailing  "}, {12, ""}, {13, ""},
                                              {14, "\xC3\x28 invalid UTF-8"}, {15, "a=b"}};
    const std::map<int, std::int32_t> numbers = {{2, -5}, {7, 1}, {11, 2147483647}, {12, -2147483647 - 1},
                                                 {13, -1}, {14, -1}, {15, static_cast<std::int32_t>(0x87654321u)}};
    EXPECT_EQ(texts, parsed.parameters.texts);
    EXPECT_EQ(numbers, parsed.parameters.numbers);
    EXPECT_EQ(std::vector<std::string>{}, parsed.errors);
}

TEST(EtsParameterFile, ReportsBadLinesWithTheirNumber)
{
    std::istringstream input("text 1 = ok\n"
                             "just some words\n"
                             "flag 1 = 3\n"
                             "number x = 3\n"
                             "number -1 = 3\n"
                             "number 2 = three\n"
                             "number 3 = 3 4\n"
                             "text 4 = \"unterminated\n"
                             "text 5 = \"bad \\q escape\"\n"
                             "text 6 = \"x\" trailing\n"
                             "number = 4\n"
                             "number 6 = 4294967296\n"
                             "number 7 = -2147483649\n"
                             "number 1 = 1\n"
                             "text 1 = second\n");
    const auto parsed = ParseEtsParameters(input);
    const std::string range = "expected an integer -2147483648..4294967295 (or 0x0..0xFFFFFFFF)";
    const std::vector<std::string> errors = {
        "line 2: expected 'text <id> = <value>' or 'number <id> = <value>'",
        "line 3: unknown parameter kind 'flag': expected text or number",
        "line 4: bad parameter id 'x': expected a number 0..2147483647",
        "line 5: bad parameter id '-1': expected a number 0..2147483647",
        "line 6: bad value of number 2 'three': " + range,
        "line 7: bad value of number 3 '3 4': " + range,
        "line 8: bad text of text 4: the closing quote is missing",
        "line 9: bad text of text 5: unknown escape \\q",
        "line 10: bad text of text 6: nothing may follow the closing quote",
        "line 11: bad parameter id '': expected a number 0..2147483647",
        "line 12: bad value of number 6 '4294967296': " + range,
        "line 13: bad value of number 7 '-2147483649': " + range,
        "line 15: text 1 is defined twice (first on line 1)",
    };
    EXPECT_EQ(errors, parsed.errors);
    EXPECT_EQ((std::map<int, std::string>{{1, "ok"}}), parsed.parameters.texts);
    EXPECT_EQ((std::map<int, std::int32_t>{{1, 1}}), parsed.parameters.numbers);
}

TEST(GatewayHost, NamesAnyCoAndKeepsLinesFromTwoThreadsWhole)
{
    std::ostringstream output;
    BusConsole console(output);
    EtsParameters parameters;
    parameters.texts[2] = "";
    GatewayHost host(parameters, "/dir", console);
    std::int32_t number = 42;
    EXPECT_FALSE(host.GetNumberParameter(2, number)) << "a text is no number";
    EXPECT_TRUE(host.SendSwitch(9999, true)) << "the gateway takes any CO; the console says what it is";
    EXPECT_EQ("app->bus CO 9999 (outside 1..517) bool true\n", output.str().substr(13));  // after "HH:MM:SS.mmm "

    // The plug-in sends from the host's thread and from its worker thread.
    output.str("");
    std::thread worker([&host]() {
        for (int i = 0; i < 200; ++i) {
            host.SendText(504, "worker");
        }
    });
    for (int i = 0; i < 200; ++i) {
        host.SendFloat(3, 20.5f);
        host.SetLedErrorCode(i);
    }
    worker.join();
    std::map<std::string, int> lines;
    std::istringstream printed(output.str());
    for (std::string line; std::getline(printed, line);) {
        ++lines[Contains(line, "LED error code ") ? "LED" : line.substr(13)];
    }
    const std::map<std::string, int> expected = {
        {"app->bus CO 504 (system, base station error text) text \"worker\"", 200},
        {"app->bus CO 3 (station 1, thermostat 1, setpoint status) float 20.5", 200},
        {"LED", 200}};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(199, host.GetLedErrorCode());
}

// The answer to the bytes of one request on a connection of its own to
// 127.0.0.1; status 0 when the server closes it without one.
http::response<http::string_body> Exchange(unsigned short port, const std::string& request)
{
    boost::asio::io_service ioService;
    boost::asio::ip::tcp::socket socket(ioService);
    socket.connect({boost::asio::ip::address_v4::loopback(), port});
    boost::system::error_code error;
    // A server that refuses the request early (413, 421, 400) answers and
    // closes while the rest is still being written: its answer is read anyway.
    boost::asio::write(socket, boost::asio::buffer(request), error);
    boost::beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(16 * 1024 * 1024);
    http::read(socket, buffer, parser, error);
    return error ? http::response<http::string_body>() : parser.release();
}

std::string Request(const std::string& method, const std::string& target, const std::string& headers,
                    const std::string& body = {})
{
    return method + " " + target + " HTTP/1.1\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string OwnHost(unsigned short port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

http::response<http::string_body> Get(unsigned short port, const std::string& target)
{
    return Exchange(port, Request("GET", target, OwnHost(port)));
}

// The token the page carries for its requests.
std::string PageToken(const std::string& page)
{
    const std::string marker = "<meta name=\"page-token\" content=\"";
    const auto at = page.find(marker);
    return at == std::string::npos ? "" : page.substr(at + marker.size(), 32);
}

// CPU seconds the process has used.
double CpuSeconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14) {
            ticks += std::stol(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The host program as a child process, through `prefix` ("prlimit
// --nofile=24") and the emulator that runs the tests of a cross build.
std::unique_ptr<ChildProcess> StartHost(const std::vector<std::string>& arguments, std::vector<std::string> prefix = {})
{
    if (!std::string(GATEWAY_HOST_EMULATOR).empty()) {
        prefix.push_back(GATEWAY_HOST_EMULATOR);
    }
    prefix.push_back(GATEWAY_HOST_PROGRAM);
    prefix.insert(prefix.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>(prefix);
}

// False when the host prints no line matching `pattern` within 60 s (a slow sanitizer build).
bool Shows(const ChildProcess& host, const std::string& pattern)
{
    return host.WaitForLine(std::regex(pattern), 0, std::chrono::seconds(60)).has_value();
}

// The exit status; -1 when the host did not end by itself within 60 s.
int ExitStatus(const ChildProcess& host) { return host.WaitForExit(std::chrono::seconds(60)).value_or(-1); }

// The port of the configuration page the host names.
unsigned short PagePort(const std::string& output)
{
    const std::string marker = "Configuration page: http://127.0.0.1:";
    const auto at = output.find(marker);
    return at == std::string::npos ? 0 : static_cast<unsigned short>(std::stoi(output.substr(at + marker.size())));
}

class GatewayHostProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        boost::filesystem::create_directories(_directory);
        std::ofstream(_parameters.string()) << "text 1 = 0123456789\nnumber 1 = 3\n";
        ::setenv("FAKE_PLUGIN_RECORD", _record.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("FAKE_PLUGIN_RECORD");
        boost::filesystem::remove_all(_directory);
    }

    std::vector<std::string> Arguments(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> arguments = {"--plugin",     FAKE_PLUGIN_LIBRARY, "--parameters", _parameters.string(),
                                              "--config-dir", _config.string()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }
    std::vector<std::string> Record() const
    {
        std::vector<std::string> lines;
        std::ifstream record(_record.string());
        for (std::string line; std::getline(record, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    const boost::filesystem::path _directory =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("gateway-host-%%%%%%%%");
    const boost::filesystem::path _parameters = _directory / "parameters.txt";
    const boost::filesystem::path _record = _directory / "record.txt";
    const boost::filesystem::path _config = _directory / "config";
    const std::string _init = "Init text 1=0123456789 number 1=3 directory=" + _config.string();
};

TEST_F(GatewayHostProgram, RunsThePluginUntilSigtermSigintOrQuit)
{
    for (const int signal : {SIGTERM, SIGINT, 0}) {
        boost::filesystem::remove(_record);
        const auto host = StartHost(Arguments({"--http-port", "0"}));
        ASSERT_TRUE(Shows(*host, "Running.")) << host->Output();
        EXPECT_EQ(200u, Get(PagePort(host->Output()), "/").result_int());

        std::vector<std::string> received = {"received 37 byte 1"};
        if (signal != 0) {
            // The end of the input does not stop the host.
            host->Write("37 byte 1\n");
            host->CloseInput();
            ASSERT_TRUE(Shows(*host, "bus->app CO 37"));
            host->Signal(signal);
        } else {
            host->Write("2 float 21.3\n510 bool true\nnonsense\n37 byte 1\n5 word 65535\n5 dword 4294967295\n");
            host->Write("5 long -7\n512 datetime 2026-12-24T18:00\n514 time 18:30\n504 text hello world\nhelp\n");
            host->Write("516 bool fa");  // a line may arrive in pieces
            ASSERT_TRUE(Shows(*host, "Bus console:"));
            host->Write("lse\nquit\n2 float 99\n");  // nothing after quit
            received = {"received 2 float 21.3", "received 510 bool true", "received 37 byte 1",
                        "received 5 word 65535", "received 5 dword 4294967295", "received 5 long -7",
                        "received 512 datetime 2026-12-24T18:00:00", "received 514 time 18:30",
                        "received 504 text [hello world]", "received 516 bool false"};
        }
        EXPECT_EQ(0, ExitStatus(*host));
        for (const std::string& line : std::vector<std::string>{
                 "app->bus CO 3 (station 1, thermostat 1, setpoint status) float 21.5",
                 "app->bus CO 503 (system, base station error) bool false",
                 "app->bus CO 504 (system, base station error text) text \"-0:NoError\"",
                 "app->bus CO 38 (station 1, slot 1, power level status) byte 7",
                 "app->bus CO 513 (system, arrival date and time status) datetime 2026-12-24T18:00:00",
                 "app->bus CO 515 (system, arrival time status) time 18:30", "LED error code 2",
                 "bus->app CO 37 (station 1, slot 1, power level input) byte 1",
                 "Stopping (" + std::string(signal != 0 ? ::strsignal(signal) : "quit") + ")", "Stopped."}) {
            EXPECT_TRUE(Contains(host->Output(), line)) << line << "\nin:\n" << host->Output();
        }
        EXPECT_EQ(signal == 0, Contains(host->Output(), "line 3: unknown command 'nonsense'"));
        received.insert(received.begin(), {"createOruApp", _init, "Run", "CreateProductWebService"});
        received.insert(received.end(), {"Exit same host", "deleteOruApp"});
        EXPECT_EQ(received, Record());
        EXPECT_TRUE(boost::filesystem::is_directory(_config)) << "created by the host";
    }
}

TEST_F(GatewayHostProgram, ServesTheConfigurationPageOnlyToItsOwnPage)
{
    const auto host = StartHost(Arguments({"--http-port", "0"}));
    ASSERT_TRUE(Shows(*host, "Running.")) << host->Output();
    const unsigned short port = PagePort(host->Output());
    const auto page = Get(port, "/");
    EXPECT_EQ(200u, page.result_int());
    EXPECT_EQ("text/html; charset=utf-8", page[http::field::content_type]);
    EXPECT_EQ("DENY", page["X-Frame-Options"]);
    EXPECT_EQ("no-store", page[http::field::cache_control]);
    EXPECT_TRUE(Contains(std::string(page["Content-Security-Policy"]), "default-src 'none'; script-src 'self' 'sha256-"));
    const std::string token = PageToken(page.body());
    ASSERT_EQ(32u, token.size()) << page.body();
    EXPECT_EQ(200u, Get(port, "/index.html?x=1").result_int());

    const std::string own = OwnHost(port);
    const std::string json = "Content-Type: application/json\r\n";
    const std::string pageToken = "X-Page-Token: " + token + "\r\n";
    const std::string fromPage = own + json + pageToken + "Origin: http://127.0.0.1:" + std::to_string(port) +
                                 "\r\nSec-Fetch-Site: same-origin\r\n";
    auto post = [&](const std::string& target, const std::string& body, const std::string& headers) {
        return Request("POST", target, headers, body);
    };
    struct Case {
        std::string request;
        unsigned status;
        std::string answer;
    };
    const std::string params = R"({"index":2,"username":"admin","credentials":null})";
    const Case cases[] = {
        {post("/api/echo", " \r\n", fromPage), 200, "{}"},  // a blank body is no parameters
        {post("/api/echo", params, own + "Content-Type: Application/JSON; charset=utf-8\r\n" + pageToken), 200,
         params},
        {post("/api/refuse", R"({"code":"RQE004"})", fromPage), 400, R"({"error":"RQE004"})"},
        {post("/api/refuse", std::string(32768, '[') + std::string(32768, ']'), fromPage), 400,
         R"({"error":"RQE002"})"},
        {post("/api/echo", "{index: 2", fromPage), 400, R"({"error":"InvalidJson"})"},
        {post("/api/Echo", "{}", fromPage), 404, R"({"error":"UnknownRequest"})"},
        {post("/api/throw", "{}", fromPage), 500, R"({"error":"InternalError"})"},
        {Request("GET", "/api/echo", own), 405, R"({"error":"UsePost"})"},
        {post("/", "{}", fromPage), 405, "Use GET.\n"},
        {Request("GET", "/etc/passwd", own), 404, "Not found.\n"},
        {post("/api/echo", std::string(ConfigurationPageServer::MaximumBodySize + 1, ' '), fromPage), 413,
         R"({"error":"RequestTooLarge"})"},
        // DNS rebinding: a name that resolves to 127.0.0.1 is not this server's.
        {Request("GET", "/", "Host: attacker.example:" + std::to_string(port) + "\r\n"), 421, "Unknown host.\n"},
        {post("/api/echo", "{}", "Host: 127.0.0.1\r\n" + json + pageToken), 421, "Unknown host.\n"},
        {Request("GET", "/", ""), 421, "Unknown host.\n"},
        {post("/api/echo", "{}", own + json + pageToken + "Origin: http://attacker.example\r\n"), 403,
         R"({"error":"CrossOrigin"})"},
        {post("/api/echo", "{}", own + json + pageToken + "Sec-Fetch-Site: cross-site\r\n"), 403,
         R"({"error":"CrossOrigin"})"},
        {post("/api/echo", "{}", own + "Content-Type: text/plain\r\n" + pageToken), 415, R"({"error":"UseJson"})"},
        {post("/api/echo", "{}", own + json), 403, R"({"error":"PageToken"})"},
        {post("/api/echo", "{}", own + json + "X-Page-Token: " + std::string(32, '0') + "\r\n"), 403,
         R"({"error":"PageToken"})"},
        {"NOT HTTP AT ALL\r\n\r\n", 400, R"({"error":"BadRequest"})"},
        {"GET / HTTP/1.1\r\n" + own + "Content-Length: many\r\n\r\n", 400, R"({"error":"BadRequest"})"},
    };
    for (const Case& request : cases) {
        const auto answer = Exchange(port, request.request);
        const std::string what = request.request.substr(0, 200);
        EXPECT_EQ(request.status, answer.result_int()) << what;
        EXPECT_EQ(request.answer, answer.body()) << what;
        EXPECT_EQ(request.answer[0] == '{' ? "application/json" : "text/plain", answer[http::field::content_type]);
    }
}

// 80 idle connections, with descriptors to hold 32 of them and with few:
// the host stays idle and the page answers the next request.
TEST_F(GatewayHostProgram, IdleConnectionsNeitherLockOutThePageNorSpin)
{
    for (const char* limit : {"--nofile=4096", "--nofile=24"}) {
        const auto host = StartHost(Arguments({"--http-port", "0"}), {"prlimit", limit});
        ASSERT_TRUE(Shows(*host, "Running.")) << host->Output();
        const unsigned short port = PagePort(host->Output());
        boost::asio::io_service ioService;
        std::vector<std::unique_ptr<boost::asio::ip::tcp::socket>> idle;
        for (int connection = 0; connection < 80; ++connection) {
            idle.push_back(std::make_unique<boost::asio::ip::tcp::socket>(ioService));
            boost::system::error_code error;
            idle.back()->connect({boost::asio::ip::address_v4::loopback(), port}, error);
            ASSERT_FALSE(error) << limit << " connection " << connection << ": " << error.message() << host->Output();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double before = CpuSeconds(host->Id());
        std::this_thread::sleep_for(std::chrono::seconds(2));
        EXPECT_LT(CpuSeconds(host->Id()) - before, 0.3) << limit << ": the host works while nothing is asked";
        EXPECT_EQ(200u, Get(port, "/").result_int()) << limit;
        host->Signal(SIGTERM);
        EXPECT_EQ(0, ExitStatus(*host)) << limit;
    }
}

TEST_F(GatewayHostProgram, RunsAScript)
{
    std::ofstream((_directory / "script.txt").string())
        << "37 byte 7\nsleep 0.01\n# comment\n2 float 21.5\n41 bool maybe\nquit\n";
    const auto script = StartHost(Arguments({"--script", (_directory / "script.txt").string()}));
    EXPECT_EQ(0, ExitStatus(*script));
    EXPECT_EQ((std::vector<std::string>{"createOruApp", _init, "Run", "received 37 byte 7", "received 2 float 21.5",
                                        "Exit same host", "deleteOruApp"}),
              Record());
    EXPECT_TRUE(Contains(script->Output(), "script line 5: bad bool value 'maybe'")) << script->Output();

}

// The messages a service sends to systemd, as its notification socket gets them.
class NotificationSocket {
public:
    explicit NotificationSocket(const boost::filesystem::path& path) : _fd(::socket(AF_UNIX, SOCK_DGRAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        ::bind(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~NotificationSocket() { ::close(_fd); }

    // Every message until `last` arrives; stops after 60 s without one.
    std::vector<std::string> ReadUntil(const std::string& last)
    {
        std::vector<std::string> messages;
        pollfd wait{_fd, POLLIN, 0};
        while ((messages.empty() || messages.back() != last) && ::poll(&wait, 1, 60000) == 1) {
            char buffer[256];
            const ssize_t size = ::recv(_fd, buffer, sizeof buffer, 0);
            messages.emplace_back(buffer, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        }
        return messages;
    }

private:
    int _fd;
};

TEST_F(GatewayHostProgram, AsAServiceReadsNoConsoleAndReportsReadyWatchdogAndStopping)
{
    NotificationSocket notifications(_directory / "notify");
    ::setenv("NOTIFY_SOCKET", (_directory / "notify").c_str(), 1);
    ::setenv("WATCHDOG_USEC", "100000", 1);
    std::ofstream((_directory / "gateway.conf").string()) << "log-level = error\nhttp-port = 0\n";
    const auto host = StartHost(Arguments({"--daemon", "--config", (_directory / "gateway.conf").string()}));
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    host->Write("37 byte 1\n");

    auto messages = notifications.ReadUntil("WATCHDOG=1");
    const auto next = notifications.ReadUntil("WATCHDOG=1");  // from the event loop's timer
    messages.insert(messages.end(), next.begin(), next.end());
    EXPECT_EQ((std::vector<std::string>{"READY=1", "WATCHDOG=1", "WATCHDOG=1"}), messages);
    EXPECT_EQ(200u, Get(PagePort(host->Output()), "/").result_int());
    host->Signal(SIGTERM);
    const auto stopping = notifications.ReadUntil("STOPPING=1");
    EXPECT_EQ("STOPPING=1", stopping.empty() ? "" : stopping.back());
    EXPECT_EQ(0, ExitStatus(*host));
    EXPECT_EQ((std::vector<std::string>{"createOruApp", _init, "Run", "CreateProductWebService", "Exit same host",
                                        "deleteOruApp"}),
              Record());
    EXPECT_FALSE(Contains(host->Output(), "app->bus")) << host->Output();
    EXPECT_TRUE(Contains(host->Output(), "LED error code 2")) << host->Output();
}

TEST_F(GatewayHostProgram, BadSetupEndsWithStatusTwoAndAFailedInitWithOne)
{
    std::ofstream((_directory / "bad.txt").string()) << "text 1 = ok\nnumber 1 = many\n";
    std::ofstream((_directory / "map.txt").string()) << "2 = 1/0/2 9.001\n3 = 1/1/3 1.001\n";
    const std::string missing = (_directory / "missing.txt").string();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {Arguments({"--parameters", (_directory / "bad.txt").string()}), "bad.txt: line 2: bad value of number 1 'ma"},
        {Arguments({"--parameters", missing}), "Cannot read the parameter file"},
        {Arguments({"--plugin", "/nonexistent.so"}), "cannot load the plug-in '/nonexistent.so'"},
        {Arguments({"--plugin", ORU_HOST_LIBRARY}), "the plug-in has no entry point createOruApp"},
        {Arguments({"--http-port", "65536"}), "bad port '65536'"},
        {Arguments({"--knx", "local:/nonexistent", "--knx-map", (_directory / "map.txt").string()}),
         "map.txt: line 2: datapoint type 1.001 does not fit CO 3"},
        {Arguments({"--knx", "/run/knx"}), "Not a knxd URL: '/run/knx'"},
    };
    for (const auto& [arguments, error] : cases) {
        const auto host = StartHost(arguments);
        EXPECT_EQ(2, ExitStatus(*host)) << error;
        EXPECT_TRUE(Contains(host->Output(), error));
    }
    EXPECT_FALSE(boost::filesystem::exists(_record)) << "the plug-in was never created";

    ::setenv("FAKE_PLUGIN_FAIL_INIT", "1", 1);
    const auto failing = StartHost(Arguments());
    const int status = ExitStatus(*failing);
    ::unsetenv("FAKE_PLUGIN_FAIL_INIT");
    EXPECT_EQ(1, status);
    EXPECT_TRUE(Contains(failing->Output(), "The plug-in's Init failed"));
    EXPECT_EQ((std::vector<std::string>{"createOruApp", _init, "Exit same host", "deleteOruApp"}), Record());
}

}  // namespace
