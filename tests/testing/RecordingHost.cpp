#include "RecordingHost.h"

#include <boost/date_time/posix_time/posix_time_io.hpp>

namespace Oru {
namespace Testing {

namespace {
struct ValueEquals : boost::static_visitor<bool> {
    template <typename A, typename B>
    bool operator()(const A&, const B&) const
    {
        return false;
    }
    template <typename A>
    bool operator()(const A& a, const A& b) const
    {
        return a == b;
    }
    bool operator()(const OruApp::TimeOfDay& a, const OruApp::TimeOfDay& b) const
    {
        return a.GetHour() == b.GetHour() && a.GetMinute() == b.GetMinute();
    }
};

struct ValuePrinter : boost::static_visitor<void> {
    explicit ValuePrinter(std::ostream& output) : stream(output) {}
    void operator()(const std::string& value) const { stream << "text \"" << value << "\""; }
    void operator()(bool value) const { stream << "switch " << (value ? "true" : "false"); }
    void operator()(unsigned char value) const { stream << "byte " << static_cast<int>(value); }
    void operator()(float value) const { stream << "float " << value; }
    void operator()(const boost::posix_time::ptime& value) const { stream << "date-time " << value; }
    void operator()(const OruApp::TimeOfDay& value) const { stream << "time " << value; }
    std::ostream& stream;
};
}  // namespace

bool operator==(const SentValue& a, const SentValue& b)
{
    return a.co == b.co && boost::apply_visitor(ValueEquals(), a.value, b.value);
}

std::ostream& operator<<(std::ostream& stream, const SentValue& sent)
{
    stream << "CO " << sent.co << ": ";
    boost::apply_visitor(ValuePrinter(stream), sent.value);
    return stream;
}

bool RecordingHost::Record(int co, SentValue::Value value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (_failingCos.count(co) != 0) {
        return false;
    }
    _sent.push_back({co, std::move(value)});
    return true;
}

bool RecordingHost::SendText(int co, const std::string& value) { return Record(co, value); }
bool RecordingHost::SendSwitch(int co, bool value) { return Record(co, value); }
bool RecordingHost::SendByte(int co, unsigned char value) { return Record(co, value); }
bool RecordingHost::SendFloat(int co, float value) { return Record(co, value); }
bool RecordingHost::SendDateTime(int co, const boost::posix_time::ptime& value) { return Record(co, value); }
bool RecordingHost::SendTimeOfDay(int co, const OruApp::TimeOfDay& value) { return Record(co, value); }

bool RecordingHost::GetNumberParameter(int id, int32_t& value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    const auto found = _numberParameters.find(id);
    if (found == _numberParameters.end()) {
        return false;
    }
    value = found->second;
    return true;
}

bool RecordingHost::GetTextParameter(int id, std::string& value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    const auto found = _textParameters.find(id);
    if (found == _textParameters.end()) {
        return false;
    }
    value = found->second;
    return true;
}

std::string RecordingHost::GetConfigurationDirectory()
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _configurationDirectory;
}

void RecordingHost::SetLedErrorCode(int code)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _ledCodes.push_back(code);
}

void RecordingHost::SetNumberParameter(int id, int32_t value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _numberParameters[id] = value;
}

void RecordingHost::SetTextParameter(int id, const std::string& value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _textParameters[id] = value;
}

void RecordingHost::RemoveNumberParameter(int id)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _numberParameters.erase(id);
}

void RecordingHost::RemoveTextParameter(int id)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _textParameters.erase(id);
}

void RecordingHost::SetConfigurationDirectory(const std::string& directory)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _configurationDirectory = directory;
}

void RecordingHost::FailSendsOn(int co)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _failingCos.insert(co);
}

std::vector<SentValue> RecordingHost::Sent() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _sent;
}

std::vector<SentValue::Value> RecordingHost::SentOn(int co) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<SentValue::Value> values;
    for (const auto& sent : _sent) {
        if (sent.co == co) {
            values.push_back(sent.value);
        }
    }
    return values;
}

std::vector<int> RecordingHost::LedCodes() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _ledCodes;
}

void RecordingHost::Clear()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _sent.clear();
    _ledCodes.clear();
}

}  // namespace Testing
}  // namespace Oru
