// The live view of the configuration page: per configured base station
// (from the ETS parameters) what the plug-in last sent, in words, with the
// time of each value; values set from the page go to the plug-in as bus
// values; a diagnostics download. Sees only what the host sees.
#pragma once

#include <functional>
#include <string>

#include "BusValue.h"
#include "EtsParameterFile.h"
#include "LiveState.h"
#include "LogRing.h"
#include "PageExtension.h"

namespace Oru {

class LiveView final : public IPageExtension {
public:
    // What the diagnostics name besides the live state.
    struct Installation {
        EtsParameters parameters;
        std::string credentialsFile;
        std::string pluginPath;
    };
    // Hands a value to the plug-in, as from the bus; on the host's thread.
    using Deliver = std::function<void(int co, const BusValue& value)>;

    // The state and the log ring must outlive the view.
    LiveView(Installation installation, const LiveState& state, const LogRing& log, Deliver deliver);

    std::string Markup() const override;
    PageFile FindFile(const std::string& path) const override;
    // "state": the live state; "set" {"co": 2, "value": "21.5"}: a value for
    // one of the plug-in's inputs (on 510, true means leaving home whatever
    // the absence mode); "diagnostics": the diagnostics document.
    ProductWebServiceResult HandleRequest(const std::string& request, const rapidjson::Value& parameters) override;

private:
    ProductWebServiceResult Set(const rapidjson::Value& parameters);
    std::string StateJson() const;
    std::string DiagnosticsJson() const;

    const Installation _installation;
    const LiveState& _state;
    const LogRing& _log;
    const Deliver _deliver;
    mutable std::string _pluginDigest;
};

}  // namespace Oru
