#include "RecordingHost.h"

namespace Oru {
namespace Testing {

void RecordingHost::SetLedErrorCode(int code)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _ledCodes.push_back(code);
}

std::vector<std::string> RecordingHost::Sent() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _sent;
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
