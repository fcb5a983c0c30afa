// A misbehaviour the simulated station shows on demand: what it does, which
// requests it concerns and how many times. Set through the control
// interface; tools/simulator/README.md lists the kinds.
#pragma once

#include <optional>
#include <string>

#include <rapidjson/document.h>

namespace Keldra {
namespace Simulation {

struct Fault {
    enum class Kind {
        RefuseCredentials,  // 401 whatever the credentials
        ResponseCode,       // the status carries responseCode `value`
        WriteStatus,        // writes answer {"status": value} and change nothing
        HttpStatus,         // the answer has HTTP status `value`
        MalformedJson,      // a 200 answer's body is not JSON
        TruncatedBody,      // a 200 answer's Content-Length exceeds the body sent, then the connection closes
        TlsCut,             // the request is read, then TCP is closed without TLS close_notify
        Delay,              // the answer comes `milliseconds` later
        DropOnAccept,       // a new connection is closed before the TLS handshake
        DropAfterRequest,   // the request is read, then the connection is closed (with close_notify)
        NoAnswer,           // the request is read and never answered
        FirmwareVersion,    // the short information reports `firmwareVersion` (none: left out)
        WrongShape,         // member `member` of a 200 answer becomes `replacement` (or is removed)
        ThirteenRooms,      // the status lists 13 rooms
        Chunked,            // the answer is sent with chunked transfer coding
        LargeBody,          // a 200 JSON answer gets a member "padding" of `bytes` characters
    };

    Kind kind = Kind::Delay;
    std::string path;                   // prefix of the request paths it concerns; empty: every path
    std::optional<unsigned> remaining;  // how many more times it applies; empty: until cleared
    int value = 0;
    unsigned milliseconds = 0;
    unsigned bytes = 70000;
    std::optional<std::string> firmwareVersion;
    std::string member = "rooms";                 // dotted path, array elements by index ("rooms.0.thermostat.id")
    std::string replacement = "\"wrong shape\"";  // JSON text
    bool remove = false;

    // The fault described by a JSON object, or empty with the reason in error.
    static std::optional<Fault> Parse(const std::string& text, std::string& error);
    void ToJson(rapidjson::Value& out, rapidjson::Document::AllocatorType& allocator) const;

    bool Concerns(const std::string& requestPath) const;
    static const char* KindName(Kind kind);
};

}  // namespace Simulation
}  // namespace Keldra
