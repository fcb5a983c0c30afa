// A base station stand-in for the web API client tests: an HTTPS server on
// 127.0.0.1 with an ephemeral port and a certificate made at start, on the
// test's io_service. It records every request and answers as the test's
// script says, including the ways a broken or hostile station misbehaves.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace Keldra {
namespace Testing {

class TestHttpsStation {
public:
    struct ReceivedRequest {
        std::string method;
        std::string target;
        std::string body;
        std::map<std::string, std::string> fields;  // names in lower case
        std::size_t connection = 0;                 // 1 for the first accepted connection

        // The field's value, or "<absent>".
        std::string Field(const std::string& lowerCaseName) const;
    };

    enum class Action {
        Respond,         // status and body (application/json), kept alive unless closeConnection
        Hold,            // never answer
        Reset,           // drop the connection with a TCP reset
        Truncate,        // send raw, then close TCP without TLS close_notify
        SendRawAndHold,  // send raw, then nothing more
        Stream,          // send raw, then repeated again and again (pause apart) until the client goes
    };

    struct Reply {
        Action action = Action::Respond;
        unsigned int status = 200;
        std::string body;
        bool closeConnection = false;
        std::string raw;       // bytes of HTTP sent as they are (inside TLS)
        std::string repeated;  // Stream
        std::chrono::milliseconds pause{0};
    };

    static Reply Json(std::string body, unsigned int status = 200);

    using Script = std::function<Reply(const ReceivedRequest&)>;

    // What the station does with a new TCP connection before any HTTP.
    enum class Greeting {
        Handshake,        // TLS, then HTTP
        CloseMidHandshake,  // read the client's first TLS record, then close (FIN)
        Silence,          // accept and never say or read anything
    };

    explicit TestHttpsStation(boost::asio::io_service& ioService);
    ~TestHttpsStation();
    TestHttpsStation(const TestHttpsStation&) = delete;
    TestHttpsStation& operator=(const TestHttpsStation&) = delete;

    boost::asio::ip::tcp::endpoint Endpoint() const;

    void SetScript(Script script);
    void SetGreeting(Greeting greeting);

    const std::vector<ReceivedRequest>& Requests() const;
    std::size_t AcceptedConnections() const;
    // Bytes of raw and repeated text sent by Stream replies.
    std::uint64_t StreamedBytes() const;
    // A Stream reply stopped because the client was gone.
    bool StreamEnded() const;
    // A request arrived while the previous answer was still owed.
    bool SawPipelinedRequest() const;

    // Closes (TCP, no close_notify) every connection waiting for its next
    // request, as a station does with idle connections.
    void CloseIdleConnections();

    // Stops accepting and closes every connection.
    void Stop();

private:
    struct Shared;
    class Session;
    static void Accept(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> _shared;
};

}  // namespace Testing
}  // namespace Keldra
