// The gateway side of the plug-in interface in the substitute gateway host:
// serves the ETS parameters and the configuration directory, and shows what
// the plug-in sends and the LED code on the bus console.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "BusConsole.h"
#include "EtsParameterFile.h"
#include "LiveState.h"
#include "app/OruApp.h"

namespace Oru {

// The plug-in calls it from the host's thread and from its worker thread.
class GatewayHost final : public OruApp::IOruAppHost {
public:
    GatewayHost(EtsParameters parameters, std::string configurationDirectory, BusConsole& console);

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

    // Every value sent goes to `output` too (the KNX bus); set before Init.
    void SetBusOutput(std::function<void(int co, const BusValue& value)> output);

    // The code last shown, 0 before any.
    int GetLedErrorCode() const;
    const EtsParameters& GetParameters() const { return _parameters; }
    // What the plug-in sent, for the page's live view.
    LiveState& GetLiveState() { return _liveState; }

private:
    bool Send(int co, const BusValue& value);

    const EtsParameters _parameters;
    const std::string _configurationDirectory;
    BusConsole& _console;
    std::atomic<int> _ledErrorCode{0};
    std::function<void(int co, const BusValue& value)> _busOutput;
    LiveState _liveState;
};

}  // namespace Oru
