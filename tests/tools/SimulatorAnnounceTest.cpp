// The --announce path: with an avahi-daemon reachable the station is found
// by browsing and resolving as the plug-in does; without one the simulator
// still runs and says why it is not announced.
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScenarioFormat.h"
#include "SimulatorFixture.h"
#include "StationSimulator.h"

namespace Keldra {
namespace Simulation {
namespace {

// Browses "_https._tcp" and resolves the instance with the wanted name.
class ServiceFinder {
public:
    explicit ServiceFinder(std::string instanceName) : _instanceName(std::move(instanceName))
    {
        _poll = avahi_simple_poll_new();
        int error = 0;
        if (_poll != nullptr) {
            _client = avahi_client_new(avahi_simple_poll_get(_poll), AvahiClientFlags(0), nullptr, nullptr, &error);
        }
    }
    ~ServiceFinder()
    {
        if (_client != nullptr) {
            avahi_client_free(_client);
        }
        if (_poll != nullptr) {
            avahi_simple_poll_free(_poll);
        }
    }

    bool DaemonReachable() const { return _client != nullptr; }

    // Browses until the instance is resolved or the time is up.
    bool Find(std::chrono::seconds limit)
    {
        AvahiServiceBrowser* browser =
            avahi_service_browser_new(_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, "_https._tcp", nullptr,
                                      AvahiLookupFlags(0), &ServiceFinder::OnBrowse, this);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!_resolved && browser != nullptr && std::chrono::steady_clock::now() < deadline) {
            avahi_simple_poll_iterate(_poll, 100);
        }
        if (browser != nullptr) {
            avahi_service_browser_free(browser);
        }
        return _resolved;
    }

    std::uint16_t port = 0;
    std::vector<std::string> txt;

private:
    static void OnBrowse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                         const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* self)
    {
        auto& finder = *static_cast<ServiceFinder*>(self);
        if (event == AVAHI_BROWSER_NEW && finder._instanceName == name) {
            avahi_service_resolver_new(finder._client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                                       AvahiLookupFlags(0), &ServiceFinder::OnResolve, self);
        }
    }

    static void OnResolve(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                          const char*, const char*, const char*, const char*, const AvahiAddress*, uint16_t port,
                          AvahiStringList* txt, AvahiLookupResultFlags, void* self)
    {
        auto& finder = *static_cast<ServiceFinder*>(self);
        if (event == AVAHI_RESOLVER_FOUND) {
            finder.port = port;
            for (AvahiStringList* entry = txt; entry != nullptr; entry = avahi_string_list_get_next(entry)) {
                finder.txt.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(entry)),
                                        avahi_string_list_get_size(entry));
            }
            finder._resolved = true;
        }
        avahi_service_resolver_free(resolver);
    }

    std::string _instanceName;
    AvahiSimplePoll* _poll = nullptr;
    AvahiClient* _client = nullptr;
    bool _resolved = false;
};

struct Started {
    std::unique_ptr<StationSimulator> simulator;
    std::shared_ptr<std::vector<std::string>> messages;
    std::shared_ptr<std::mutex> mutex;
};

Started StartAnnounced()
{
    Started started;
    started.messages = std::make_shared<std::vector<std::string>>();
    started.mutex = std::make_shared<std::mutex>();
    ScenarioFormat::Result scenario = ScenarioFormat::Load(ExampleScenarioPath());
    EXPECT_TRUE(scenario.state) << scenario.error;
    StationSimulator::Options options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.announce = true;
    options.log = [messages = started.messages, mutex = started.mutex](const std::string& message) {
        std::lock_guard<std::mutex> lock(*mutex);
        messages->push_back(message);
    };
    started.simulator = std::make_unique<StationSimulator>(std::move(*scenario.state), options);
    EXPECT_EQ("", started.simulator->Start());
    return started;
}

TEST(SimulatorAnnounceTest, StationIsFoundOverMDns)
{
    ServiceFinder finder("plavo-0123456789");
    if (!finder.DaemonReachable()) {
        GTEST_SKIP() << "no avahi-daemon reachable on the D-Bus system bus; the mDNS announcement is not tested here";
    }
    const Started started = StartAnnounced();
    ASSERT_TRUE(finder.Find(std::chrono::seconds(15))) << "plavo-0123456789 was not found";
    EXPECT_EQ(started.simulator->StationEndpoint().port(), finder.port);
    EXPECT_THAT(finder.txt, ::testing::UnorderedElementsAre("Vendor=Keldra", "Model=Brisgo"));
    EXPECT_TRUE(started.simulator->IsAnnounced());
}

TEST(SimulatorAnnounceTest, RunsOnWithoutADaemon)
{
    ServiceFinder finder("plavo-0123456789");
    if (finder.DaemonReachable()) {
        GTEST_SKIP() << "an avahi-daemon is reachable; running without one is not tested here";
    }
    const Started started = StartAnnounced();
    EXPECT_FALSE(started.simulator->IsAnnounced());
    {
        std::lock_guard<std::mutex> lock(*started.mutex);
        const std::vector<std::string>& messages = *started.messages;
        ASSERT_EQ(3u, messages.size());
        EXPECT_EQ("listening on 127.0.0.1:" + std::to_string(started.simulator->StationEndpoint().port()), messages[0]);
        EXPECT_EQ("control on 127.0.0.1:" + std::to_string(started.simulator->ControlEndpoint().port()), messages[1]);
        EXPECT_EQ(0u, messages[2].find("mDNS: ")) << messages[2];
        EXPECT_NE(std::string::npos, messages[2].find("running without announcement")) << messages[2];
    }
    TestHttpClient client(started.simulator->StationEndpoint(), true);
    EXPECT_EQ(
        200u,
        client.Send(boost::beast::http::verb::get, "/api/v1/info", {}, TestHttpClient::Credentials{"admin", "secret"})
            .response.result_int());
}

}  // namespace
}  // namespace Simulation
}  // namespace Keldra
