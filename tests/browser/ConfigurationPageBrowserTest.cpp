// The configuration page as a user sees it: headless Chromium, driven through
// chromedriver's WebDriver REST API, fills in the credentials of base station
// 1; the host's product web service stores them, the running plug-in re-reads
// the file and the simulated station accepts (or refuses) them. A station
// with another key in its place gets nothing until the user accepts the key.
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/EndToEndFixture.h"

namespace Keldra::EndToEnd {
namespace {

using namespace ::testing;

const char* const Chromium = "/usr/bin/chromium";
const char* const ChromeDriver = "/usr/bin/chromedriver";

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

// A JSON string of a text that needs no escaping.
std::string Json(const std::string& text) { return '"' + text + '"'; }

// Headless Chromium in the lab node "gw", driven through chromedriver.
class Browser {
public:
    Browser(const Lab& lab, const std::string& profile)
        : _lab(lab), _driver(lab.Start("gw", {ChromeDriver, "--port=9515"}))
    {
        if (!_driver->WaitForLine(std::regex("started successfully"), 0, Seconds(30))) {
            throw std::runtime_error("chromedriver did not start: " + _driver->Output());
        }
        _session = std::string("/") + Command("POST", "", R"({"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": {"args": ["--headless", "--no-sandbox", "--disable-gpu",
            "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run",
            "--window-size=1100,900", "--user-data-dir=)" + profile + R"("]}}}})")["sessionId"].GetString();
        Command("POST", "/timeouts", R"({"implicit": 10000, "pageLoad": 30000, "script": 30000})");
    }

    // A WebDriver command to the session (to open one while there is none);
    // the "value" of the answer.
    rapidjson::Document Command(const std::string& method, const std::string& path, const std::string& body = "") const
    {
        const auto answer = _lab.Request("gw", method, "http://127.0.0.1:9515/session" + _session + path, body);
        rapidjson::Document value;
        value.CopyFrom(answer["value"], value.GetAllocator());
        return value;
    }
    // The element the XPath finds, waiting up to 10 s.
    std::string Find(const std::string& xpath) const
    {
        return Command("POST", "/element", R"({"using": "xpath", "value": )" + Json(xpath) + "}")
            ["element-6066-11e4-a52e-4f735466cecf"].GetString();
    }
    // The visible text of the element once it contains `expected`, or the last one seen after `timeout`.
    std::string AwaitText(const std::string& xpath, const std::string& expected, Seconds timeout = Seconds(10)) const
    {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (text.find(expected) == std::string::npos && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            text = Command("GET", "/element/" + Find(xpath) + "/text").GetString();
        }
        return text;
    }
    void Type(const std::string& xpath, const std::string& text) const
    {
        Command("POST", "/element/" + Find(xpath) + "/value", R"({"text": )" + Json(text) + "}");
    }
    void Click(const std::string& xpath) const { Command("POST", "/element/" + Find(xpath) + "/click", "{}"); }
    void Open(const std::string& url) const { Command("POST", "/url", R"({"url": )" + Json(url) + "}"); }

private:
    const Lab& _lab;
    std::unique_ptr<ChildProcess> _driver;
    std::string _session;
};

// The lab of the end-to-end tests, the host with `--http-port 0` and its
// configuration page in the browser.
class ConfigurationPageBrowserTest : public EndToEndTest {
protected:
    void SetUp() override
    {
        if (::access(Chromium, X_OK) != 0 || ::access(ChromeDriver, X_OK) != 0) {
            GTEST_SKIP() << "Browser test skipped: needs chromium and chromedriver (Debian packages chromium and "
                            "chromium-driver; scripts/install-dependencies)";
        }
        EndToEndTest::SetUp();
    }
    void TearDown() override
    {
        _browser.reset();
        EndToEndTest::TearDown();
    }

    // The host with the installation of `parameters`; opens the page in the browser.
    void StartHostAndPage(const std::string& parameters, bool credentials)
    {
        StartHost({"--http-port", "0"}, parameters, credentials);
        const auto pageLines =
            Lines({"Configuration page", std::regex("Configuration page: http://127\\.0\\.0\\.1:[0-9]+/$")});
        ASSERT_EQ(1u, pageLines.size()) << _host->Output();
        _pageUrl = pageLines.front().substr(pageLines.front().find("http://"));
        _browser = std::make_unique<Browser>(*_lab, _directory + "/profile");
        _browser->Open(_pageUrl);
    }

    std::string _pageUrl;
    std::unique_ptr<Browser> _browser;
};

// The installation of tests/e2e (two stations) on the page's live view:
// the stations' values, a setpoint set on the page and a station error. (The
// state words and the diagnostics are LiveViewTest's; the credentials form
// the other test's.)
TEST_F(ConfigurationPageBrowserTest, TheLiveViewShowsAndSetsTheStationsValues)
{
    auto& station1 = StartStation("st1", "station1.json");
    StartStation("st2", "station2.json");
    StartHostAndPage(DataDirectory + "/ets-parameters.txt", true);
    auto cell = [](const std::string& key) { return "//*[@data-key='" + key + "']"; };
    const Seconds found(60);
    EXPECT_THAT(_browser->AwaitText(cell("stations.0.thermostats.0.temperature"), "20.8", found), HasSubstr("20.8 °C"));
    EXPECT_THAT(_browser->AwaitText(cell("stations.0.slots.0.level"), "5", found), Eq("5"));
    EXPECT_THAT(_browser->AwaitText(cell("stations.1.thermostats.0.temperature"), "19.0", found), HasSubstr("19.0 °C"));
    EXPECT_THAT(_browser->AwaitText(cell("stations.1.state"), "no error"), Eq("State: no error"));

    // A setpoint from the page reaches the station; the page shows it confirmed.
    _browser->Type("//input[@id='live-setpoint-1-1']", "22.5");
    _browser->Click("//input[@id='live-setpoint-1-1']/following-sibling::button");
    EXPECT_THAT(_browser->AwaitText(cell("stations.0.thermostats.0.setpoint"), "22.5", Seconds(20)), HasSubstr("22.5 °C"));
    EXPECT_EQ(22.5, station1.State()["state"]["rooms"][0]["thermostat"]["setpointTemperature"].GetDouble());

    // A station error appears within one poll.
    station1.Control("POST", "/control/state", R"({"errors": [{"code": -5}]})");
    EXPECT_THAT(_browser->AwaitText(cell("stations.0.state"), "supply", Seconds(12)),
                Eq("State: station error: supply fault (-5:ErrSupply)"));
}

TEST_F(ConfigurationPageBrowserTest, CredentialsEnteredOnThePageReachThePlugInAndTheStation)
{
    auto* station = &StartStation("st1", "station1.json");
    StartHostAndPage(KELDRA_BROWSER_DATA "/ets-parameters.txt", false);
    // Enters the credentials of base station 1 on the page and saves them;
    // the status line the page shows then.
    auto saveCredentialsOfStation1 = [&](const std::string& username, const std::string& password) {
        _browser->Open(_pageUrl);
        // The page lists the stations in the file's order, which a save changes.
        const std::string row = "//tbody[@id='stations']/tr[td[1][normalize-space()='Base station 1']]";
        _browser->Type(row + "//input[@name='username']", username);
        _browser->Type(row + "//input[@name='password']", password);
        _browser->Click(row + "//button[@type='submit']");
        return _browser->AwaitText("//*[@id='status']", "base station 1");
    };
    // The plug-in created the file without credentials; the station refuses
    // every poll.
    Await(Bus(502, "text \"InvalidCreds\""), 0, Seconds(60));
    const std::string file = ConfigurationDirectory() + "/orubasestationconfig.json";
    EXPECT_THAT(ReadFile(file), Not(HasSubstr("\"username\"")));

    // Incomplete credentials are refused on the page and not stored.
    EXPECT_THAT(saveCredentialsOfStation1("admin", ""), HasSubstr("RQE004"));
    EXPECT_THAT(ReadFile(file), Not(HasSubstr("\"admin\"")));

    const std::size_t beforeSave = OutputEnd();
    EXPECT_EQ("Saved for base station 1.", saveCredentialsOfStation1("admin", "secret-1"));
    // The page stored the password Base64-encoded in the plug-in's file.
    EXPECT_THAT(ReadFile(file), AllOf(HasSubstr("\"admin\""), HasSubstr("\"c2VjcmV0LTE=\"")));

    // Within one re-read of the file the plug-in polls with them: the
    // station's values reach the bus and the gateway error clears.
    AwaitAll(beforeSave, {Bus(1, "float 20.8"), Bus(501, "bool false")});
    EXPECT_THAT(station->Answers("/api/v1/status"), Contains("200"));
    EXPECT_THAT(_browser->AwaitText("//tbody[@id='stations']", "admin"), HasSubstr("stored"));

    // The key of the first contact is stored, privately, and shown.
    const std::string keyFile = ConfigurationDirectory() + "/stationkeys.json";
    std::smatch trusted;
    const std::string keys = ReadFile(keyFile);
    ASSERT_TRUE(std::regex_search(keys, trusted, std::regex("\"fingerprint\" : \"([0-9a-f:]{95})\""))) << keys;
    const std::string trustedKey = trusted.str(1);
    EXPECT_EQ(0600, static_cast<int>(boost::filesystem::status(keyFile).permissions()));
    const std::string keyRows = "//tbody[@id='station-key-rows']";
    EXPECT_THAT(_browser->AwaitText(keyRows, trustedKey), HasSubstr("KLD0000001"));

    // Another station with a key of its own takes over the address and the
    // name: it gets no request (the web API client's tests show that).
    const std::size_t beforeHostile = OutputEnd();
    station->Process().Kill();
    station = &StartStation("st1", "station1.json");
    const Pattern refused("a refused key",
                          std::regex("Base station KLD0000001 presented another key; nothing was sent to it\\. "
                                     "Trusted key: " + trustedKey + ", presented key: ([0-9a-f:]{95})"));
    Await(refused, beforeHostile, Seconds(60));
    Await(Bus(502, "text \"CommError\""), beforeHostile);

    // Accepted on the page, the new key is trusted: the plug-in polls the
    // station again, with the credentials.
    _browser->Open(_pageUrl);
    std::smatch refusal;
    const std::string refusedLine = Lines(refused, beforeHostile).front();
    ASSERT_TRUE(std::regex_search(refusedLine, refusal, refused.regex));
    const std::string presented = refusal.str(1);
    EXPECT_THAT(_browser->AwaitText(keyRows, presented), HasSubstr("Another key"));
    const std::size_t beforeAccept = OutputEnd();
    _browser->Click(keyRows + "//button");
    EXPECT_EQ("The new key of base station KLD0000001 is trusted.", _browser->AwaitText("//*[@id='status']", "trusted"));
    EXPECT_THAT(ReadFile(keyFile), AllOf(HasSubstr(presented), Not(HasSubstr(trustedKey))));
    Await(Station1Polled, beforeAccept, Seconds(60));
    Await(Bus(501, "bool false"), beforeAccept);
    EXPECT_EQ("200", station->Answers("/api/v1/status").back());
}

}  // namespace
}  // namespace Keldra::EndToEnd
