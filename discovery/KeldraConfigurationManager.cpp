#include "KeldraConfigurationManager.h"

#include <utility>

#include <boost/system/error_code.hpp>

namespace Keldra {

// The periodic re-read. Its timer's handler holds it weakly: once the
// manager has let go of it, a completion that is still queued finds nothing
// and does nothing.
class KeldraConfigurationManager::Updater : public std::enable_shared_from_this<Updater> {
public:
    Updater(std::unique_ptr<IKeldraConfigurationReader> reader, std::unique_ptr<Oru::WaitableTimer> timer)
        : _reader(std::move(reader)), _timer(std::move(timer))
    {
    }

    void StartUpdateTimer()
    {
        _reader->UpdateCredentials();
        _timer->expires_from_now(UpdateCycle);
        _timer->async_wait([weakSelf = weak_from_this()](boost::system::error_code error) {
            const auto self = weakSelf.lock();
            if (!error && self) {
                self->StartUpdateTimer();
            }
        });
    }

    IKeldraConfigurationReader& Reader() { return *_reader; }

private:
    // Declared in this order so that the timer is destroyed first.
    std::unique_ptr<IKeldraConfigurationReader> _reader;
    std::unique_ptr<Oru::WaitableTimer> _timer;
};

KeldraConfigurationManager::KeldraConfigurationManager(std::unique_ptr<IKeldraConfigurationReader> reader,
                                                       std::unique_ptr<Oru::WaitableTimer> timer,
                                                       boost::optional<StationKeyStore> stationKeys)
    : _updater(std::make_shared<Updater>(std::move(reader), std::move(timer))), _stationKeys(std::move(stationKeys))
{
    _updater->StartUpdateTimer();
}

KeldraConfigurationManager::~KeldraConfigurationManager() = default;

boost::optional<Credentials> KeldraConfigurationManager::GetCredentials(unsigned char index)
{
    return _updater->Reader().GetCredentials(index);
}

boost::optional<std::string> KeldraConfigurationManager::GetTrustedStationKey(const std::string& stationId)
{
    return _stationKeys ? _stationKeys->Trusted(stationId) : boost::none;
}

void KeldraConfigurationManager::RememberStationKey(const std::string& stationId, const std::string& fingerprint)
{
    if (_stationKeys) {
        _stationKeys->Remember(stationId, fingerprint);
    }
}

void KeldraConfigurationManager::RecordPresentedStationKey(const std::string& stationId,
                                                           const std::string& fingerprint)
{
    if (_stationKeys) {
        _stationKeys->RecordPresented(stationId, fingerprint);
    }
}

}  // namespace Keldra
