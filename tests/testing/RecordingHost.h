// A gateway host for tests: records every value the plug-in sends, as text,
// and the LED codes; serves the ETS parameters from its tables and can refuse
// sends on chosen COs. Sends may come from any thread; the tables are set
// before Init and read on the host's thread.
#pragma once

#include <cstdint>
#include <iomanip>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_io.hpp>

#include "app/OruApp.h"

namespace Oru {
namespace Testing {

class RecordingHost final : public OruApp::IOruAppHost {
public:
    bool SendText(int co, const std::string& value) override { return Record(co, "text", value); }
    bool SendSwitch(int co, bool value) override { return Record(co, "switch", value ? "true" : "false"); }
    bool SendByte(int co, unsigned char value) override { return Record(co, "byte", static_cast<int>(value)); }
    bool SendFloat(int co, float value) override { return Record(co, "float", value); }
    bool SendDateTime(int co, const boost::posix_time::ptime& value) override { return Record(co, "date", value); }
    bool SendTimeOfDay(int co, const OruApp::TimeOfDay& value) override { return Record(co, "time", value); }
    bool GetNumberParameter(int id, int32_t& value) override { return Find(numbers, id, value); }
    bool GetTextParameter(int id, std::string& value) override { return Find(texts, id, value); }
    std::string GetConfigurationDirectory() override { return configurationDirectory; }
    void SetLedErrorCode(int code) override;

    // Every send that succeeded, in order, as "CO type value":
    // "3 float 21.5", "98 switch true", "38 byte 4", "504 text -0:NoError",
    // "513 date 2024-May-24 18:30:00", "515 time 18:30".
    std::vector<std::string> Sent() const;
    std::vector<int> LedCodes() const;
    void Clear();

    std::map<int, std::int32_t> numbers;
    std::map<int, std::string> texts;
    std::string configurationDirectory = "/tmp";
    std::set<int> failingCos;  // sends on these report failure

private:
    template <typename Value>
    bool Record(int co, const char* type, const Value& value)
    {
        std::ostringstream text;
        text << co << " " << type << " " << std::setprecision(9) << value;
        std::lock_guard<std::mutex> lock(_mutex);
        if (failingCos.count(co) == 0) {
            _sent.push_back(text.str());
        }
        return failingCos.count(co) == 0;
    }
    template <typename Table, typename Value>
    static bool Find(const Table& table, int id, Value& value)
    {
        const auto found = table.find(id);
        if (found != table.end()) {
            value = found->second;
        }
        return found != table.end();
    }

    mutable std::mutex _mutex;
    std::vector<std::string> _sent;
    std::vector<int> _ledCodes;
};

}  // namespace Testing
}  // namespace Oru
