// The plug-in's answers to the gateway's configuration pages: lists the base
// stations of the credentials file and changes one station's credentials.
#pragma once

#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/optional.hpp>

#include "AtomicFileWriter.h"
#include "BaseStationWithCredentials.h"
#include "BaseStationsWithCredentialsConfig.h"
#include "platform/host/ProductWebService.h"
#include "StationKeyStore.h"

namespace Keldra {

class KeldraProductWebService final : public Oru::IProductWebService {
public:
    // Longest "username" and "credentials" text a change may carry.
    static constexpr std::size_t MaximumTextLength = 4096;
    static constexpr const char* BrokenFileSuffix = ".broken";

    // Why a user name and Base64 password would be dropped by the reader or
    // break HTTP Basic authentication; empty when they can be used. Either
    // may be absent (removing credentials), neither may be empty.
    static std::string CredentialsProblem(const boost::optional<Oru::UTF8String>& username,
                                          const boost::optional<Oru::UTF8String>& credentials);

    // Creates the credentials file when missing. The observer sees every
    // step of a rewrite of the file (tests stop or fail a rewrite with it).
    KeldraProductWebService(Oru::ICommonWebService& commonWebService, const boost::filesystem::path& path,
                            AtomicWriteObserver writeObserver = {});

    // "getBaseStationConfig": the stations with their user names and whether
    // a password is stored, or "RQE002". "setBaseStationConfig": an empty
    // object, "RQE002" (bad parameters, among them credentials that could
    // not be used: CredentialsProblem), "RQE003" (not stored) or "RQE004"
    // (user name without password or the other way round).
    // "getStationKeys": the stations' trusted keys and any other key one
    // presented; "acceptStationKey" {"stationId", "fingerprint"}: trusts the
    // presented key, "RQE002" when it is not the one presented.
    // "getBaseStationConfigFile": {"problem": why the credentials file cannot
    // be used} or {}; "resetBaseStationConfig": moves a file that cannot be
    // used aside (BrokenFileSuffix) and starts a fresh one, {"keptAs": name},
    // "RQE002" when the file is fine, "RQE003" when it fails.
    // Any other request: no answer.
    Oru::ProductWebServiceResult HandleRequest(const std::string& request,
                                               const rapidjson::Value& parameters) override;

private:
    struct BaseStation;
    struct BaseStationsConfig;

    Oru::ProductWebServiceResult GetBaseStationConfig();
    Oru::ProductWebServiceResult SetBaseStationConfig(const rapidjson::Value& parameters);
    Oru::ProductWebServiceResult GetStationKeys();
    Oru::ProductWebServiceResult AcceptStationKey(const rapidjson::Value& parameters);
    std::string FileProblem() const;
    Oru::ProductWebServiceResult GetBaseStationConfigFile();
    Oru::ProductWebServiceResult ResetBaseStationConfig();
    boost::optional<BaseStationsWithCredentialsConfig> ReadFile();
    boost::optional<BaseStationsConfig> ReadConfiguration();
    bool WriteConfiguration(const BaseStationWithCredentials& entry);
    bool WriteNewConfigFile(const BaseStationsWithCredentialsConfig& config);

    Oru::ICommonWebService& _commonWebService;
    boost::filesystem::path _path;
    AtomicWriteObserver _writeObserver;
    StationKeyStore _stationKeys;
};

}  // namespace Keldra
