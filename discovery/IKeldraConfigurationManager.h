// The credentials of the base stations, kept up to date with the credentials
// file, and the keys the stations are trusted with; handed to the base
// station manager.
#pragma once

#include <string>

#include <boost/optional.hpp>

#include "basestations/Credentials.h"

namespace Keldra {

class IKeldraConfigurationManager {
public:
    virtual ~IKeldraConfigurationManager() = default;
    // index: the base station number minus one.
    virtual boost::optional<Credentials> GetCredentials(unsigned char index) = 0;

    // The stations' keys, by station ID (StationKeyStore): the trusted key,
    // the one to trust on first contact, and another one a station showed.
    virtual boost::optional<std::string> GetTrustedStationKey(const std::string& stationId) = 0;
    virtual void RememberStationKey(const std::string& stationId, const std::string& fingerprint) = 0;
    virtual void RecordPresentedStationKey(const std::string& stationId, const std::string& fingerprint) = 0;
};

}  // namespace Keldra
