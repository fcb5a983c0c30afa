// The plug-in's answers to the gateway's configuration pages: lists the base
// stations of the credentials file and changes one station's credentials.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/optional.hpp>

#include "AtomicFileWriter.h"
#include "BaseStationWithCredentials.h"
#include "BaseStationsWithCredentialsConfig.h"
#include "ProductWebService.h"

namespace Keldra {

class KeldraProductWebService final : public Oru::IProductWebService {
public:
    // Longest "username" and "credentials" text a change may carry.
    static constexpr std::size_t MaximumTextLength = 4096;

    // Creates the credentials file when missing. The observer sees every
    // step of a rewrite of the file (tests stop or fail a rewrite with it).
    KeldraProductWebService(Oru::ICommonWebService& commonWebService, const boost::filesystem::path& path,
                            AtomicWriteObserver writeObserver = {});

    // "getBaseStationConfig": the stations with their user names and whether
    // a password is stored, or "RQE002". "setBaseStationConfig": an empty
    // object, "RQE002" (bad parameters), "RQE003" (not stored) or "RQE004"
    // (user name without password or the other way round). Any other
    // request: no answer.
    Oru::ProductWebServiceResult HandleRequest(const std::string& request,
                                               const rapidjson::Value& parameters) override;

private:
    struct BaseStation;
    struct BaseStationsConfig;

    Oru::ProductWebServiceResult GetBaseStationConfig();
    Oru::ProductWebServiceResult SetBaseStationConfig(const rapidjson::Value& parameters);
    boost::optional<BaseStationsWithCredentialsConfig> ReadFile();
    boost::optional<BaseStationsConfig> ReadConfiguration();
    bool WriteConfiguration(const BaseStationWithCredentials& entry);
    bool WriteNewConfigFile(const BaseStationsWithCredentialsConfig& config);

    Oru::ICommonWebService& _commonWebService;
    boost::filesystem::path _path;
    AtomicWriteObserver _writeObserver;
};

}  // namespace Keldra
