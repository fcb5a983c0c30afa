// The gateway host on a KNX bus: a real knxd (its dummy bus) in the
// gateway's namespace "gw", knxd's own knxtool as the other bus devices, and
// a simulated base station in "st1". Default group address map of
// ets-parameters.txt: CO 2 (setpoint input) 1/0/2, CO 3 (setpoint status)
// 1/1/3, CO 1 (room temperature) 1/1/1, CO 38 and 40 (power level and
// percent status) 1/1/38 and 1/1/40, CO 504 (error text) 0/1/4.
#include <set>

#include <boost/filesystem.hpp>

#include "EndToEndFixture.h"

namespace Keldra::EndToEnd {
namespace {

const std::string Knxd = "local:/run/knx";

Pattern Matching(const std::string& expression) { return {expression, std::regex(expression)}; }

class KnxEndToEndTest : public EndToEndTest {
protected:
    // knxd on a dummy bus with its client socket /run/knx (the node's own
    // /run), and knxtool listening to every group telegram.
    void StartKnxd()
    {
        _knxd = _lab->Start("gw", {"knxd", "-e", "0.0.1", "-E", "0.0.2:8", "-u", "/run/knx", "-b", "dummy:"});
        const auto ready = _lab->Script(
            {"exec", "gw", "sh", "-c", "for i in $(seq 100); do [ -S /run/knx ] && exit 0; sleep 0.1; done; exit 1"});
        ASSERT_EQ(0, ready.status) << _knxd->Output();
        _listener = _lab->Start("gw", {"knxtool", "groupsocketlisten", Knxd});
    }

    int Knxtool(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"exec", "gw", "knxtool"});
        return _lab->Script(arguments).status;
    }

    // The end of the first telegram knxtool heard after `from` that matches.
    std::size_t Heard(const std::string& expression, std::size_t from, Seconds timeout = PollTimeout)
    {
        if (const auto end = _listener->WaitForLine(std::regex(expression), from, timeout)) {
            return *end;
        }
        throw std::runtime_error("knxtool heard no '" + expression + "' within " + std::to_string(timeout.count()) +
                                 " s: " + _knxd->Output());
    }

    std::unique_ptr<ChildProcess> _knxd;
    std::unique_ptr<ChildProcess> _listener;
};

TEST_F(KnxEndToEndTest, StationAndBusMeetThroughKnxd)
{
    if (!boost::filesystem::exists("/usr/bin/knxd")) {
        GTEST_SKIP() << "knxd is not installed (scripts/install-dependencies)";
    }
    auto& station = StartStation("st1", "station1.json");
    StartKnxd();
    StartHost({"--knx", Knxd});
    Await("Connected to knxd at local:/run/knx", 0);

    // A poll's values, each in its type: 9.001 20.8 and 20.0, 5.010 5, 5.001 128.
    for (const auto& telegram : {"to 1/1/1: 0C 10", "to 1/1/3: 07 D0", "to 1/1/38: 05", "to 1/1/40: 80"}) {
        Heard(std::string("^Write from .* ") + telegram, 0, Seconds(30));
    }

    // A setpoint from the bus (21.3) reaches the station and its confirmation
    // (21.5) the bus.
    std::size_t listened = _listener->Output().size();
    ASSERT_EQ(0, Knxtool({"groupwrite", Knxd, "1/0/2", "0C", "29"}));
    Await(Matching("bus->app CO 2 \\(.*\\) float 21.3$"), 0);
    listened = Heard("^Write from .* to 1/1/3: 0C 33", listened);
    EXPECT_EQ(21.5, station.State()["state"]["rooms"][0]["thermostat"]["setpointTemperature"].GetDouble());

    // A read gets the last value.
    ASSERT_EQ(0, Knxtool({"groupread", Knxd, "1/1/3"}));
    Heard("^Response from .* to 1/1/3: 0C 33", listened);

    // A value of the wrong length is dropped and said so.
    std::size_t hostOutput = OutputEnd();
    ASSERT_EQ(0, Knxtool({"groupwrite", Knxd, "1/0/2", "0C"}));
    Await(Matching("knx dropped .* -> 1/0/2 write 0C: 1 octets after the APCI, 9.001 needs 2"), hostOutput);
    EXPECT_EQ(1u, Lines("bus->app CO 2 ").size());

    // knxd goes away for a poll and comes back: the host reconnects and
    // hands knxd the latest status again, once per address, also the error
    // text sent only once at the start.
    hostOutput = OutputEnd();
    _listener.reset();
    _knxd->Kill();
    const auto lost = Await("Lost the connection to knxd at local:/run/knx", hostOutput);
    Await("app->bus CO 3 ", lost);
    ASSERT_FALSE(_host->HasExited());
    StartKnxd();
    const auto connected = Await("Connected to knxd at local:/run/knx", hostOutput);
    Await(Matching("knx -> 0/1/4 write 2D 30 3A 4E 6F 45 72 72 6F 72 00 00 00 00$"), connected, Seconds(2));
    // What knxd hands on the first part showed; its new listener may start
    // only after the host has reconnected.
    Await(Matching("knx -> 1/1/3 write 0C 33$"), connected, Seconds(2));
    // Up to the next poll's values: each address once, though a poll came while knxd was away.
    const auto resent = _host->Output().substr(connected, Await("app->bus", connected) - connected);
    const std::regex write("knx -> (\\S+) write");
    std::vector<std::string> addresses;
    for (std::sregex_iterator match(resent.begin(), resent.end(), write), end; match != end; ++match) {
        addresses.push_back((*match)[1]);
    }
    EXPECT_EQ(std::set<std::string>(addresses.begin(), addresses.end()).size(), addresses.size()) << resent;
    EXPECT_EQ(0, StopHost());
}

}  // namespace
}  // namespace Keldra::EndToEnd
