// What the host has seen of the plug-in, for the page's live view: the last
// value sent on every communication object with its time, the LED code, and
// which station the plug-in's error reports concern. Fed from both of the
// plug-in's threads.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/optional.hpp>

#include "BusValue.h"

namespace Oru {

class LiveState {
public:
    using Clock = std::chrono::system_clock;

    struct Entry {
        BusValue value;
        Clock::time_point time;
    };
    // A gateway error the plug-in logged for one station ("Gateway error:
    // InvalidCreds (3) on base station 2"): its text and code.
    struct StationGatewayError {
        std::string text;
        int code;
        Clock::time_point time;
    };
    struct Snapshot {
        std::map<int, Entry> sent;  // by CO
        boost::optional<Entry> ledCode;  // an int in a long
        std::map<int, std::vector<std::string>> stationErrorTexts;  // by station number, in order
        std::map<int, StationGatewayError> stationGatewayErrors;  // by station number
    };

    void RecordSent(int co, const BusValue& value);
    void RecordLedCode(int code);
    // A line of the plug-in's log.
    void RecordLogMessage(const std::string& message);

    Snapshot Take() const;

private:
    mutable std::mutex _mutex;
    Snapshot _state;
    // The station whose error flag (its CO 97) a thread sent last: the texts
    // on CO 504 that follow on that thread are that station's.
    std::map<std::thread::id, int> _errorStationOfThread;
};

}  // namespace Oru
