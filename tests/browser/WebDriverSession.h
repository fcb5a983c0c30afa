#pragma once
// A browser session driven through chromedriver's WebDriver REST API (plain
// HTTP with JSON). The requests are made with curl inside a lab node, where
// chromedriver and the page listen on loopback.
#include <chrono>
#include <stdexcept>
#include <string>

#include "CheckedJson.h"

#include "Lab.h"

namespace Keldra {
namespace Browser {

struct WebDriverFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class WebDriverSession {
public:
    // Opens a headless Chromium session through the chromedriver on
    // 127.0.0.1:`driverPort` of `node`, with a fresh profile in
    // `userDataDirectory`. Throws WebDriverFailed.
    WebDriverSession(const EndToEnd::Lab& lab, std::string node, int driverPort,
                     const std::string& userDataDirectory);
    // Ends the session (and the browser).
    ~WebDriverSession();

    WebDriverSession(const WebDriverSession&) = delete;
    WebDriverSession& operator=(const WebDriverSession&) = delete;

    void NavigateTo(const std::string& url);
    // The element id of the first element the CSS selector finds, waiting up
    // to the session's implicit wait (10 s).
    std::string FindElement(const std::string& cssSelector);
    std::string FindElementByXPath(const std::string& xpath);
    void SendKeys(const std::string& element, const std::string& text);
    void Click(const std::string& element);
    std::string Text(const std::string& element);
    // The visible text of the element the selector finds, once it contains
    // `expected`; the last text seen when `timeout` passes first.
    std::string AwaitText(const std::string& cssSelector, const std::string& expected,
                          std::chrono::seconds timeout);
    // The page as the browser shows it, as PNG bytes.
    std::string Screenshot();

private:
    // The "value" member of the answer; throws on an error answer.
    rapidjson::Document Call(const std::string& method, const std::string& path, const std::string& body = "");

    const EndToEnd::Lab& _lab;
    std::string _node;
    std::string _base;
    std::string _session;
};

}  // namespace Browser
}  // namespace Keldra
