#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "platform/host/HostConfigurationFile.h"
#include "platform/host/HostOptions.h"

using namespace Oru;

namespace {

TEST(HostConfigurationFile, EachSettingBecomesTheLongOptionAndBadLinesAreNamed)
{
    std::istringstream input(
        "# comment\n\n  plugin = /usr/lib/x.so  \r\nhttp-port=8080\nlog-level =\nnot a setting\n = 1\nknx map = x\n");
    const auto file = ReadHostConfigurationFile(input);
    EXPECT_EQ((std::vector<std::string>{"--plugin=/usr/lib/x.so", "--http-port=8080", "--log-level="}),
              file.arguments);
    EXPECT_EQ((std::vector<std::string>{"line 6: expected '<option> = <value>'", "line 7: expected '<option> = <value>'",
                                        "line 8: expected '<option> = <value>'"}),
              file.errors);
}

class HostOptionsFile : public ::testing::Test {
protected:
    void TearDown() override { boost::filesystem::remove(_file); }

    boost::optional<HostOptions> Load(const std::string& content, std::vector<std::string> arguments)
    {
        std::ofstream(_file.string()) << content;
        arguments.insert(arguments.begin(), {"--config", _file.string()});
        return LoadHostOptions(arguments, _error);
    }

    const boost::filesystem::path _file =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("gateway-%%%%%%%%.conf");
    std::string _error;
};

TEST_F(HostOptionsFile, TheCommandLineOverridesTheFile)
{
    const auto options = Load("plugin = /a.so\nparameters = /p.txt\nhttp-port = 8080\nlog-level = warning\n",
                              {"--http-port", "9090", "--log-level=debug", "--daemon"});
    ASSERT_TRUE(options) << _error;
    EXPECT_EQ("/a.so", options->pluginPath);
    EXPECT_EQ("/p.txt", options->parameterFile);
    EXPECT_EQ(9090, *options->httpPort);
    EXPECT_EQ(log4cplus::DEBUG_LOG_LEVEL, *options->logLevel);
    EXPECT_TRUE(options->daemon);
}

TEST_F(HostOptionsFile, ErrorsNameTheFileOrTheOption)
{
    const std::pair<std::string, std::string> cases[] = {
        {"nonsense\n", ": line 1: expected '<option> = <value>'"},
        {"colour = blue\n", " or command line: unknown option '--colour=blue'"},
        {"log-level = verbose\n", " or command line: bad log level 'verbose': expected trace, debug, info, warning"},
        {"daemon = yes\n", " or command line: unknown option '--daemon=yes'"},
    };
    for (const auto& [content, error] : cases) {
        EXPECT_FALSE(Load(content, {})) << content;
        EXPECT_EQ(_file.string() + error, _error.substr(0, _file.string().size() + error.size())) << _error;
    }
    EXPECT_FALSE(LoadHostOptions({"--config", "/nonexistent/gateway.conf"}, _error));
    EXPECT_EQ("cannot read the configuration file '/nonexistent/gateway.conf'", _error);
}

}  // namespace
