#include "WebDriverSession.h"

#include <thread>
#include <vector>

#include <boost/beast/core/detail/base64.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace Keldra {
namespace Browser {
namespace {

// The key WebDriver names element references with.
const char* const ElementKey = "element-6066-11e4-a52e-4f735466cecf";

std::string JsonString(const std::string& text)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    return buffer.GetString();
}

}  // namespace

WebDriverSession::WebDriverSession(const EndToEnd::Lab& lab, std::string node, int driverPort,
                                   const std::string& userDataDirectory)
    : _lab(lab), _node(std::move(node)), _base("http://127.0.0.1:" + std::to_string(driverPort))
{
    const std::string arguments = R"(["--headless", "--no-sandbox", "--disable-gpu",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--no-first-run", "--window-size=1100,700", "--user-data-dir=)" + userDataDirectory + R"("])";
    const auto answer = Call("POST", "/session",
                             R"({"capabilities": {"alwaysMatch": {"browserName": "chrome",
                                 "goog:chromeOptions": {"args": )" + arguments + "}}}}");
    _session = answer["sessionId"].GetString();
    Call("POST", "/session/" + _session + "/timeouts", R"({"implicit": 10000, "pageLoad": 30000})");
}

WebDriverSession::~WebDriverSession()
{
    try {
        Call("DELETE", "/session/" + _session);
    } catch (const std::exception&) {
        // The driver is gone with the lab anyway.
    }
}

void WebDriverSession::NavigateTo(const std::string& url)
{
    Call("POST", "/session/" + _session + "/url", R"({"url": )" + JsonString(url) + "}");
}

std::string WebDriverSession::FindElement(const std::string& cssSelector)
{
    const auto element = Call("POST", "/session/" + _session + "/element",
                              R"({"using": "css selector", "value": )" + JsonString(cssSelector) + "}");
    return element[ElementKey].GetString();
}

std::string WebDriverSession::FindElementByXPath(const std::string& xpath)
{
    const auto element = Call("POST", "/session/" + _session + "/element",
                              R"({"using": "xpath", "value": )" + JsonString(xpath) + "}");
    return element[ElementKey].GetString();
}

void WebDriverSession::SendKeys(const std::string& element, const std::string& text)
{
    Call("POST", "/session/" + _session + "/element/" + element + "/value", R"({"text": )" + JsonString(text) + "}");
}

void WebDriverSession::Click(const std::string& element)
{
    Call("POST", "/session/" + _session + "/element/" + element + "/click", "{}");
}

std::string WebDriverSession::Text(const std::string& element)
{
    return Call("GET", "/session/" + _session + "/element/" + element + "/text").GetString();
}

std::string WebDriverSession::AwaitText(const std::string& cssSelector, const std::string& expected,
                                        std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    for (;;) {
        text = Text(FindElement(cssSelector));
        if (text.find(expected) != std::string::npos || std::chrono::steady_clock::now() > deadline) {
            return text;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

std::string WebDriverSession::Screenshot()
{
    const auto answer = Call("GET", "/session/" + _session + "/screenshot");
    const std::string encoded = answer.GetString();
    std::string png(boost::beast::detail::base64::decoded_size(encoded.size()), '\0');
    const auto sizes = boost::beast::detail::base64::decode(&png[0], encoded.data(), encoded.size());
    png.resize(sizes.first);
    return png;
}

rapidjson::Document WebDriverSession::Call(const std::string& method, const std::string& path,
                                           const std::string& body)
{
    std::vector<std::string> arguments = {"curl", "--silent", "--show-error", "--max-time", "60", "--request", method,
                                          "--write-out", "\n%{http_code}"};
    if (!body.empty()) {
        arguments.insert(arguments.end(), {"--header", "Content-Type: application/json", "--data-binary", body});
    }
    arguments.push_back(_base + path);
    const auto result = _lab.Run(_node, std::move(arguments), std::chrono::seconds(90));
    const auto lastLine = result.output.rfind('\n');
    const std::string answer = lastLine == std::string::npos ? "" : result.output.substr(0, lastLine);
    const std::string status = lastLine == std::string::npos ? "" : result.output.substr(lastLine + 1);
    rapidjson::Document document;
    document.Parse(answer.c_str(), answer.size());
    if (result.status != 0 || status != "200" || document.HasParseError() || !document.IsObject() ||
        !document.HasMember("value")) {
        throw WebDriverFailed("WebDriver " + method + " " + path + " failed (" + std::to_string(result.status) +
                              ", HTTP " + status + "): " + answer.substr(0, 2000));
    }
    rapidjson::Document value;
    value.CopyFrom(document["value"], value.GetAllocator());
    return value;
}

}  // namespace Browser
}  // namespace Keldra
