#include "KeldraConfigurationManager.h"

#include <utility>

#include <boost/system/error_code.hpp>

#include "support/SelfHandle.h"

namespace Keldra {

// The periodic re-read. Once the manager has let go of it, a completion of
// its timer that is still queued finds it gone and does nothing.
class KeldraConfigurationManager::Updater {
public:
    Updater(std::unique_ptr<IKeldraConfigurationReader> reader, std::unique_ptr<Oru::WaitableTimer> timer)
        : _reader(std::move(reader)), _timer(std::move(timer))
    {
    }

    void StartUpdateTimer()
    {
        _reader->UpdateCredentials();
        _timer->expires_from_now(UpdateCycle);
        _timer->async_wait([updater = _selfHandle.GetWeak()](boost::system::error_code error) {
            auto* const self = updater.Get();
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
    Oru::SelfHandle<Updater> _selfHandle{this};
};

KeldraConfigurationManager::KeldraConfigurationManager(std::unique_ptr<IKeldraConfigurationReader> reader,
                                                       std::unique_ptr<Oru::WaitableTimer> timer,
                                                       boost::optional<StationKeyStore> stationKeys)
    : _updater(std::make_unique<Updater>(std::move(reader), std::move(timer))), _stationKeys(std::move(stationKeys))
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
