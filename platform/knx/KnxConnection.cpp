#include "KnxConnection.h"

#include <eibclient.h>

#include <cerrno>
#include <cstring>

namespace Oru::Knx {

std::shared_ptr<KnxConnection> KnxConnection::Create(boost::asio::io_service& ioService, std::string url,
                                                     Receive receive, Connected connected, Log log)
{
    return std::shared_ptr<KnxConnection>(
        new KnxConnection(ioService, std::move(url), std::move(receive), std::move(connected), std::move(log)));
}

KnxConnection::KnxConnection(boost::asio::io_service& ioService, std::string url, Receive receive,
                             Connected connected, Log log)
    : _ioService(ioService),
      _url(std::move(url)),
      _receive(std::move(receive)),
      _connected(std::move(connected)),
      _log(std::move(log)),
      _retryTimer(ioService)
{
}

KnxConnection::~KnxConnection()
{
    std::lock_guard<std::mutex> lock(_mutex);
    CloseLocked();
}

void KnxConnection::Start() { Connect(); }

void KnxConnection::Stop()
{
    _stopped = true;
    _retryTimer.cancel();
    std::lock_guard<std::mutex> lock(_mutex);
    CloseLocked();
}

bool KnxConnection::Send(GroupAddress destination, const std::vector<std::uint8_t>& apdu)
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_connection || _broken) {
        return false;
    }
    if (EIBSendGroup(_connection, destination, static_cast<int>(apdu.size()), apdu.data()) < 0) {
        // The loop's thread closes it and connects again.
        _broken = true;
        const std::string why = std::strerror(errno);
        _ioService.post([weak = weak_from_this(), why]() {
            if (const auto self = weak.lock()) {
                self->Lose(why);
            }
        });
        return false;
    }
    return true;
}

void KnxConnection::Connect()
{
    if (_stopped) {
        return;
    }
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        errno = 0;
        _connection = EIBSocketURL(_url.c_str());
        if (!_connection) {
            failure = errno ? std::strerror(errno) : "bad URL";
        } else if (EIBOpen_GroupSocket(_connection, 0) < 0) {
            failure = std::string("knxd refused the group socket: ") + std::strerror(errno);
            CloseLocked();
        } else {
            _broken = false;
            _descriptor = std::make_unique<boost::asio::posix::stream_descriptor>(_ioService, EIB_Poll_FD(_connection));
        }
    }
    if (!failure.empty()) {
        if (!_reportedOutage) {
            _log("Cannot connect to knxd at " + _url + ": " + failure + "; trying again");
            _reportedOutage = true;
        }
        RetryLater();
        return;
    }
    _log("Connected to knxd at " + _url);
    _reportedOutage = false;
    _retryDelay = FirstRetry;
    Watch();
    _connected();
}

void KnxConnection::Watch()
{
    _descriptor->async_wait(boost::asio::posix::descriptor_base::wait_read,
                            [weak = weak_from_this()](const boost::system::error_code& error) {
                                const auto self = weak.lock();
                                if (self && !error && !self->_stopped) {
                                    self->OnReadable();
                                }
                            });
}

void KnxConnection::OnReadable()
{
    std::vector<GroupTelegram> telegrams;
    std::string lost;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_connection) {
            return;
        }
        while (true) {
            const int complete = EIB_Poll_Complete(_connection);
            if (complete == 0) {
                break;
            }
            std::uint8_t buffer[256];
            eibaddr_t source = 0;
            eibaddr_t destination = 0;
            const int length =
                complete < 0 ? -1 : EIBGetGroup_Src(_connection, sizeof buffer, buffer, &source, &destination);
            if (length < 0) {
                lost = errno ? std::strerror(errno) : "closed by knxd";
                break;
            }
            telegrams.push_back({source, destination, std::vector<std::uint8_t>(buffer, buffer + length)});
        }
    }
    for (const auto& telegram : telegrams) {
        _receive(telegram);
    }
    if (!lost.empty()) {
        Lose(lost);
    } else {
        Watch();
    }
}

void KnxConnection::Lose(const std::string& why)
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_connection) {
            return;
        }
        CloseLocked();
    }
    _log("Lost the connection to knxd at " + _url + " (" + why + "); connecting again");
    _reportedOutage = true;
    RetryLater();
}

void KnxConnection::CloseLocked()
{
    if (_descriptor) {
        _descriptor->cancel();
        _descriptor->release();  // libeibclient closes the descriptor
        _descriptor.reset();
    }
    if (_connection) {
        EIBClose(_connection);
        _connection = nullptr;
    }
}

void KnxConnection::RetryLater()
{
    if (_stopped) {
        return;
    }
    _retryTimer.expires_from_now(_retryDelay);
    _retryDelay = std::min(_retryDelay * 2, LongestRetry);
    _retryTimer.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
        const auto self = weak.lock();
        if (self && !error) {
            self->Connect();
        }
    });
}

}  // namespace Oru::Knx
