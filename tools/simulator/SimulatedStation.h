// The simulated base station: its state, the faults it shows on demand and
// what it counted. It decides how each request is answered; the network
// sessions carry the decision out. Safe to use from several threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "Fault.h"
#include "StationState.h"

namespace Keldra {
namespace Simulation {

class SimulatedStation {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using Response = boost::beast::http::response<boost::beast::http::string_body>;

    struct Reaction {
        enum class Kind {
            Answer,           // send response
            TruncatedAnswer,  // send rawAnswer (shorter than its Content-Length), then close
            Close,            // close with TLS close_notify, no answer
            CutTls,           // close the TCP connection without close_notify
            NoAnswer,         // keep the connection open, never answer
        };
        Kind kind = Kind::Answer;
        std::chrono::milliseconds delay{0};
        Response response;
        std::string rawAnswer;
    };

    struct Counters {
        std::uint64_t connections = 0;
        std::uint64_t tlsHandshakes = 0;
        std::uint64_t requests = 0;
        std::map<std::string, std::uint64_t> requestsByPath;
    };

    struct LoggedRequest {
        std::string method;
        std::string path;
        std::string body;
        std::string answer;  // the HTTP status, or what happened instead
    };

    explicit SimulatedStation(StationState state);
    SimulatedStation(const SimulatedStation&) = delete;
    SimulatedStation& operator=(const SimulatedStation&) = delete;

    // A new TCP connection: true when it is to be closed at once.
    bool OnConnection();
    void OnHandshake();
    Reaction Handle(const Request& request);

    StationState State() const;
    // Each returns what was wrong (empty on success).
    std::string MergeState(const std::string& patchText);
    std::string AddFault(const std::string& faultText);
    void ClearFaults();
    std::vector<Fault> Faults() const;
    Counters GetCounters() const;
    void ResetCounters();
    std::vector<LoggedRequest> RequestLog() const;

private:
    // The first fault of one of the kinds that concerns the path; taking
    // it counts one use.
    const Fault* FindFault(const std::string& path, std::initializer_list<Fault::Kind> kinds) const;
    std::optional<Fault> TakeFault(const std::string& path, std::initializer_list<Fault::Kind> kinds);
    // Every delay fault that concerns the path adds its time.
    std::chrono::milliseconds TakeDelays(const std::string& path);
    Response Route(const Request& request, const std::string& path);
    Response RouteWrite(const Request& request, const std::string& path, int& writeStatus);
    void Count(const std::string& path);
    void Log(const Request& request, const std::string& path, const std::string& answer);

    mutable std::mutex _mutex;
    StationState _state;
    std::vector<Fault> _faults;
    Counters _counters;
    std::deque<LoggedRequest> _log;
};

}  // namespace Simulation
}  // namespace Keldra
