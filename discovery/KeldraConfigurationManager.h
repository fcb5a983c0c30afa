// Keeps the credentials current: reads the credentials file at once and then
// every UpdateCycle, and answers the base stations' credential queries.
#pragma once

#include <memory>

#include <boost/chrono/duration.hpp>

#include "IKeldraConfigurationManager.h"
#include "IKeldraConfigurationReader.h"
#include "StationKeyStore.h"
#include "support/WaitableTimer.h"

namespace Keldra {

class KeldraConfigurationManager final : public IKeldraConfigurationManager {
public:
    static constexpr boost::chrono::nanoseconds UpdateCycle{5000000000};

    // Reads the file before it returns. Without a station key file no key
    // is stored and every station is trusted on each first contact.
    KeldraConfigurationManager(std::unique_ptr<IKeldraConfigurationReader> reader,
                               std::unique_ptr<Oru::WaitableTimer> timer,
                               boost::optional<StationKeyStore> stationKeys = boost::none);
    // Stops the re-reading; a wait still pending completes without effect.
    ~KeldraConfigurationManager() override;

    KeldraConfigurationManager(const KeldraConfigurationManager&) = delete;
    KeldraConfigurationManager& operator=(const KeldraConfigurationManager&) = delete;

    boost::optional<Credentials> GetCredentials(unsigned char index) override;
    boost::optional<std::string> GetTrustedStationKey(const std::string& stationId) override;
    void RememberStationKey(const std::string& stationId, const std::string& fingerprint) override;
    void RecordPresentedStationKey(const std::string& stationId, const std::string& fingerprint) override;

private:
    class Updater;

    std::shared_ptr<Updater> _updater;
    boost::optional<StationKeyStore> _stationKeys;
};

}  // namespace Keldra
