#include "GatewayHost.h"

#include <utility>

namespace Oru {

GatewayHost::GatewayHost(EtsParameters parameters, std::string configurationDirectory, BusConsole& console)
    : _parameters(std::move(parameters)), _configurationDirectory(std::move(configurationDirectory)), _console(console)
{
}

bool GatewayHost::SendText(int co, const std::string& value) { return Send(co, value); }

bool GatewayHost::SendSwitch(int co, bool value) { return Send(co, value); }

bool GatewayHost::SendByte(int co, unsigned char value) { return Send(co, value); }

bool GatewayHost::SendFloat(int co, float value) { return Send(co, value); }

bool GatewayHost::SendDateTime(int co, const boost::posix_time::ptime& value) { return Send(co, value); }

bool GatewayHost::SendTimeOfDay(int co, const OruApp::TimeOfDay& value) { return Send(co, value); }

bool GatewayHost::GetNumberParameter(int id, int32_t& value)
{
    const auto entry = _parameters.numbers.find(id);
    if (entry == _parameters.numbers.end()) {
        return false;
    }
    value = entry->second;
    return true;
}

bool GatewayHost::GetTextParameter(int id, std::string& value)
{
    const auto entry = _parameters.texts.find(id);
    if (entry == _parameters.texts.end()) {
        return false;
    }
    value = entry->second;
    return true;
}

std::string GatewayHost::GetConfigurationDirectory() { return _configurationDirectory; }

void GatewayHost::SetLedErrorCode(int code)
{
    _ledErrorCode = code;
    _liveState.RecordLedCode(code);
    _console.PrintLedCode(code);
}

int GatewayHost::GetLedErrorCode() const { return _ledErrorCode; }

void GatewayHost::SetBusOutput(std::function<void(int co, const BusValue& value)> output)
{
    _busOutput = std::move(output);
}

bool GatewayHost::Send(int co, const BusValue& value)
{
    _liveState.RecordSent(co, value);
    _console.PrintSent(co, value);
    if (_busOutput) {
        _busOutput(co, value);
    }
    return true;
}

}  // namespace Oru
