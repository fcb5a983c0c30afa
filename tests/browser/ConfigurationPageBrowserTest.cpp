// The configuration page as a user sees it: headless Chromium fills in the
// credentials of base station 1, the host's product web service stores them,
// the running plug-in re-reads the file and the simulated station accepts
// (or refuses) them.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <sstream>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "Lab.h"
#include "SimulatorProcess.h"
#include "WebDriverSession.h"

namespace Keldra {
namespace Browser {
namespace {

using EndToEnd::ChildProcess;
using EndToEnd::Lab;
using EndToEnd::SimulatorProcess;
using Seconds = std::chrono::seconds;

const std::string HostProgram = KELDRA_GATEWAY_HOST;
const std::string PluginLibrary = KELDRA_PLUGIN;
const std::string StationScenario = std::string(KELDRA_E2E_DATA) + "/station1.json";
const std::string Parameters = std::string(KELDRA_BROWSER_DATA) + "/ets-parameters.txt";
const std::string OutputDirectory = KELDRA_BROWSER_OUTPUT;
const char* const Chromium = "/usr/bin/chromium";
const char* const ChromeDriver = "/usr/bin/chromedriver";
constexpr int DriverPort = 9515;
// The credentials file is re-read every 5 s; a station that refused the
// firmware check is tried again at the next discovery (every 10 s), a polled
// one at the next poll (every 5 s).
constexpr Seconds CredentialsTakeEffect{20};
// The fixed path of the product web service, below the /opt the host sees.
const std::string CredentialsFile = "/opt/userdata/oruAppConfigRoot/1/orubasestationconfig.json";

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::regex BusValue(int co, const std::string& valuePattern)
{
    return std::regex("app->bus CO " + std::to_string(co) + " \\([^)]*\\) " + valuePattern + "$");
}

class ConfigurationPageBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::signal(SIGPIPE, SIG_IGN);
        const std::string why = Lab::Unavailable();
        if (!why.empty()) {
            GTEST_SKIP() << "Browser test skipped: " << why;
        }
        if (::access(Chromium, X_OK) != 0 || ::access(ChromeDriver, X_OK) != 0) {
            GTEST_SKIP() << "Browser test skipped: needs " << Chromium << " and " << ChromeDriver
                         << " (Debian packages chromium and chromium-driver; scripts/install-dependencies)";
        }
        Lab::RemoveAbandonedLabs();
        char pattern[] = "/tmp/keldra-browser-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        _directory = pattern;
        boost::filesystem::create_directories(_directory + "/opt");
        boost::filesystem::create_directories(_directory + "/profile");

        _lab = std::make_unique<Lab>(std::vector<std::string>{"gw", "st1"});
        ASSERT_EQ("", _lab->Error());
        _station = std::make_unique<SimulatorProcess>(*_lab, "st1", StationScenario,
                                                      std::vector<std::string>{"--announce"});
        ASSERT_EQ("", _station->AwaitReady(Seconds(60)));

        // The host in a mount namespace of its own, where a directory of this
        // test is /opt: the page and the plug-in use the gateway's fixed
        // credentials path without touching the machine's /opt.
        _host = _lab->Start("gw", {"unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                                   "mount --bind \"$0\" /opt && exec \"$@\"", _directory + "/opt", HostProgram,
                                   "--plugin", PluginLibrary, "--parameters", Parameters, "--http-port", "0"});
        ASSERT_EQ("", _host->Error());
        ASSERT_TRUE(_host->WaitForLine(std::regex("Running\\. Type 'help'"), 0, Seconds(60))) << _host->Output();
        std::smatch match;
        const auto pageLines = _host->MatchingLines(std::regex("Configuration page: (http://127\\.0\\.0\\.1:[0-9]+/)"));
        ASSERT_EQ(1u, pageLines.size()) << _host->Output();
        std::regex_search(pageLines.front(), match, std::regex("http://[^ ]+/"));
        _pageUrl = match[0];

        _driver = _lab->Start("gw", {ChromeDriver, "--port=" + std::to_string(DriverPort)});
        ASSERT_TRUE(_driver->WaitForLine(std::regex("started successfully"), 0, Seconds(30))) << _driver->Output();
        _browser = std::make_unique<WebDriverSession>(*_lab, "gw", DriverPort, _directory + "/profile");
    }

    void TearDown() override
    {
        if (HasFailure() && _host) {
            std::cerr << "The host's output:\n" << _host->Output() << '\n';
        }
        _browser.reset();
        _driver.reset();
        _host.reset();
        _station.reset();
        _lab.reset();
        if (!_directory.empty()) {
            boost::system::error_code error;
            boost::filesystem::remove_all(_directory, error);
        }
    }

    // Enters the credentials of base station 1 on the page and saves them;
    // the status line the page shows then.
    std::string SaveCredentialsOfStation1(const std::string& username, const std::string& password)
    {
        _browser->NavigateTo(_pageUrl);
        // The page lists the stations in the file's order, which a save changes.
        const std::string row = "//tbody[@id='stations']/tr[td[1][normalize-space()='Base station 1']]";
        _browser->SendKeys(_browser->FindElementByXPath(row + "//input[@name='username']"), username);
        _browser->SendKeys(_browser->FindElementByXPath(row + "//input[@name='password']"), password);
        _browser->Click(_browser->FindElementByXPath(row + "//button[@type='submit']"));
        return _browser->AwaitText("#status", "base station 1", Seconds(10));
    }

    bool AwaitBus(const std::regex& value, std::size_t from, Seconds timeout)
    {
        return static_cast<bool>(_host->WaitForLine(value, from, timeout));
    }

    // The station's answers to the requests for `path` in its request log.
    std::vector<std::string> Answers(const std::string& path)
    {
        const auto log = _station->Control("GET", "/control/requests");
        std::vector<std::string> answers;
        for (const auto& request : log["requests"].GetArray()) {
            if (request["path"].GetString() == path) {
                answers.push_back(request["answer"].GetString());
            }
        }
        return answers;
    }

    std::string _directory;
    std::unique_ptr<Lab> _lab;
    std::unique_ptr<SimulatorProcess> _station;
    std::unique_ptr<ChildProcess> _host;
    std::unique_ptr<ChildProcess> _driver;
    std::unique_ptr<WebDriverSession> _browser;
    std::string _pageUrl;
};

TEST_F(ConfigurationPageBrowserTest, CredentialsEnteredOnThePageReachThePlugInAndTheStation)
{
    // The plug-in created the file without credentials; the station refuses
    // every poll.
    ASSERT_TRUE(AwaitBus(BusValue(502, "text \"InvalidCreds\""), 0, Seconds(60))) << _host->Output();
    const std::string file = _directory + CredentialsFile;
    EXPECT_EQ(std::string::npos, ReadFile(file).find("\"username\"")) << ReadFile(file);

    const std::size_t beforeSave = _host->Output().size();
    const std::string status = SaveCredentialsOfStation1("admin", "secret-1");
    EXPECT_EQ("Saved for base station 1.", status);

    // The page stored the password Base64-encoded in the plug-in's file.
    const std::string stored = ReadFile(file);
    EXPECT_NE(std::string::npos, stored.find("\"admin\"")) << stored;
    EXPECT_NE(std::string::npos, stored.find("\"c2VjcmV0LTE=\"")) << stored;

    // Within one re-read of the file the plug-in polls with them: the
    // station's values reach the bus and the gateway error clears.
    const auto polled = _host->WaitForLine(BusValue(1, "float 20\\.8"), beforeSave, CredentialsTakeEffect);
    ASSERT_TRUE(polled) << _host->Output().substr(beforeSave);
    EXPECT_TRUE(AwaitBus(BusValue(501, "bool false"), beforeSave, CredentialsTakeEffect));
    // The station refused the firmware check without credentials and serves
    // the polls with them.
    const auto infoAnswers = Answers("/api/v1/info");
    EXPECT_NE(infoAnswers.end(), std::find(infoAnswers.begin(), infoAnswers.end(), "401"));
    ASSERT_FALSE(infoAnswers.empty());
    EXPECT_EQ("200", infoAnswers.back());
    const auto statusAnswers = Answers("/api/v1/status");
    ASSERT_FALSE(statusAnswers.empty());
    EXPECT_EQ("200", statusAnswers.back());

    // The page as the user sees it after saving.
    const std::string png = _browser->Screenshot();
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ("\x89PNG", png.substr(0, 4));
    std::ofstream(OutputDirectory + "/config-page.png", std::ios::binary) << png;
    EXPECT_NE(std::string::npos, _browser->AwaitText("#stations", "admin", Seconds(5)).find("stored"));

    // Wrong credentials: the station refuses them and the bus says so.
    const std::size_t beforeWrong = _host->Output().size();
    EXPECT_EQ("Saved for base station 1.", SaveCredentialsOfStation1("admin", "wrong-password"));
    EXPECT_TRUE(AwaitBus(BusValue(502, "text \"InvalidCreds\""), beforeWrong, CredentialsTakeEffect))
        << _host->Output().substr(beforeWrong);
    EXPECT_EQ("401", Answers("/api/v1/status").back());
}

TEST_F(ConfigurationPageBrowserTest, IncompleteCredentialsAreRefusedOnThePage)
{
    const std::string status = SaveCredentialsOfStation1("admin", "");
    EXPECT_NE(std::string::npos, status.find("RQE004")) << status;
    EXPECT_EQ(std::string::npos, ReadFile(_directory + CredentialsFile).find("\"admin\""));
}

}  // namespace
}  // namespace Browser
}  // namespace Keldra
