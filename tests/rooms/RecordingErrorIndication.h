// An IKnxErrorIndication for tests: records every call, in order, and can be
// read from another thread while calls arrive.
#pragma once

#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "rooms/IKnxErrorIndication.h"

namespace Keldra {
namespace Testing {

struct IndicationCall {
    enum class Kind { LastError, HasError, FatalError, LedErrorCode };

    Kind kind;
    std::string text;       // LastError
    bool hasError = false;  // HasError
    int code = 0;           // LedErrorCode

    friend bool operator==(const IndicationCall& a, const IndicationCall& b)
    {
        return a.kind == b.kind && a.text == b.text && a.hasError == b.hasError && a.code == b.code;
    }

    friend std::ostream& operator<<(std::ostream& stream, const IndicationCall& call)
    {
        switch (call.kind) {
        case Kind::LastError: return stream << "LastError(\"" << call.text << "\")";
        case Kind::HasError: return stream << "HasError(" << std::boolalpha << call.hasError << ")";
        case Kind::FatalError: return stream << "FatalError()";
        case Kind::LedErrorCode: return stream << "Led(" << call.code << ")";
        }
        return stream << "?";
    }
};

inline IndicationCall LastError(std::string text) { return {IndicationCall::Kind::LastError, std::move(text), false, 0}; }
inline IndicationCall HasError(bool hasError) { return {IndicationCall::Kind::HasError, {}, hasError, 0}; }
inline IndicationCall FatalError() { return {IndicationCall::Kind::FatalError, {}, false, 0}; }
inline IndicationCall Led(int code) { return {IndicationCall::Kind::LedErrorCode, {}, false, code}; }

class RecordingErrorIndication final : public IKnxErrorIndication {
public:
    void OnGatewayLastError(const KnxErrorString& text) override { Record(LastError(text.Get())); }
    void OnGatewayHasError(bool hasError) override { Record(HasError(hasError)); }
    void OnGatewayFatalError() override { Record(FatalError()); }
    void OnLedErrorCode(int code) override { Record(Led(code)); }

    std::vector<IndicationCall> Calls() const { return CallsFrom(0); }

    // The calls recorded from position first on.
    std::vector<IndicationCall> CallsFrom(std::size_t first) const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (first >= _calls.size()) {
            return {};
        }
        return {_calls.begin() + static_cast<std::ptrdiff_t>(first), _calls.end()};
    }

    // The calls recorded since the last TakeCalls().
    std::vector<IndicationCall> TakeCalls()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return std::exchange(_calls, {});
    }

private:
    void Record(IndicationCall call)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _calls.push_back(std::move(call));
    }

    mutable std::mutex _mutex;
    std::vector<IndicationCall> _calls;
};

}  // namespace Testing
}  // namespace Keldra
