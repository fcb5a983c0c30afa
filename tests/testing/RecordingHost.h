// A gateway host for tests: records every value the plug-in sends, serves
// ETS parameters from tables, can refuse sends on chosen COs, and records
// the LED codes. Safe to call from the host's and the worker thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <boost/variant.hpp>

#include "app/OruApp.h"

namespace Oru {
namespace Testing {

struct SentValue {
    using Value = boost::variant<std::string, bool, unsigned char, float, boost::posix_time::ptime, OruApp::TimeOfDay>;
    int co;
    Value value;
};
bool operator==(const SentValue& a, const SentValue& b);
std::ostream& operator<<(std::ostream& stream, const SentValue& sent);

class RecordingHost final : public OruApp::IOruAppHost {
public:
    bool SendText(int co, const std::string& value) override;
    bool SendSwitch(int co, bool value) override;
    bool SendByte(int co, unsigned char value) override;
    bool SendFloat(int co, float value) override;
    bool SendDateTime(int co, const boost::posix_time::ptime& value) override;
    bool SendTimeOfDay(int co, const OruApp::TimeOfDay& value) override;
    bool GetNumberParameter(int id, int32_t& value) override;
    bool GetTextParameter(int id, std::string& value) override;
    std::string GetConfigurationDirectory() override;
    void SetLedErrorCode(int code) override;

    void SetNumberParameter(int id, int32_t value);
    void SetTextParameter(int id, const std::string& value);
    void RemoveNumberParameter(int id);
    void RemoveTextParameter(int id);
    void SetConfigurationDirectory(const std::string& directory);
    // Sends on this CO report failure (and are still recorded as attempts).
    void FailSendsOn(int co);

    // Every send that succeeded, in order.
    std::vector<SentValue> Sent() const;
    // The values sent on one CO, in order.
    std::vector<SentValue::Value> SentOn(int co) const;
    std::vector<int> LedCodes() const;
    void Clear();

private:
    bool Record(int co, SentValue::Value value);

    mutable std::mutex _mutex;
    std::vector<SentValue> _sent;
    std::vector<int> _ledCodes;
    std::set<int> _failingCos;
    std::map<int, int32_t> _numberParameters;
    std::map<int, std::string> _textParameters;
    std::string _configurationDirectory = "/tmp";
};

}  // namespace Testing
}  // namespace Oru
