// The connection to knxd's group socket (libeibclient), on an asio event
// loop: knxd's descriptor is watched by the loop, no thread of its own and
// no busy wait. When knxd is not there or goes away, it says so once and
// connects again with a bounded back-off.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "GroupAddress.h"

struct _EIBConnection;

namespace Oru::Knx {

struct GroupTelegram {
    std::uint16_t source;  // individual address
    GroupAddress destination;
    std::vector<std::uint8_t> apdu;  // TPCI/APCI octets, then the value
};

class KnxConnection : public std::enable_shared_from_this<KnxConnection> {
public:
    using Receive = std::function<void(const GroupTelegram&)>;
    using Connected = std::function<void()>;
    using Log = std::function<void(const std::string&)>;

    static constexpr std::chrono::milliseconds FirstRetry{200};
    static constexpr std::chrono::milliseconds LongestRetry{5000};

    // `url` as knxd's tools take it: "local:/run/knx", "ip:HOST[:PORT]".
    // The callbacks run on the event loop's thread.
    static std::shared_ptr<KnxConnection> Create(boost::asio::io_service& ioService, std::string url, Receive receive,
                                                 Connected connected, Log log);
    ~KnxConnection();

    // Connects now (before the loop runs too) and keeps connected until Stop.
    void Start();
    // On the loop's thread; no callback after it.
    void Stop();

    // From any thread: hands the telegram to knxd. False when knxd is not
    // connected or the write failed (the connection is then renewed).
    bool Send(GroupAddress destination, const std::vector<std::uint8_t>& apdu);

private:
    KnxConnection(boost::asio::io_service& ioService, std::string url, Receive receive, Connected connected, Log log);

    void Connect();
    void Watch();
    void OnReadable();
    // Closes the connection and connects again later.
    void Lose(const std::string& why);
    void CloseLocked();
    void RetryLater();

    boost::asio::io_service& _ioService;
    const std::string _url;
    const Receive _receive;
    const Connected _connected;
    const Log _log;
    boost::asio::steady_timer _retryTimer;
    std::chrono::milliseconds _retryDelay = FirstRetry;
    bool _stopped = false;
    bool _reportedOutage = false;

    std::mutex _mutex;  // the connection is used from the loop and by Send
    _EIBConnection* _connection = nullptr;
    bool _broken = false;
    std::unique_ptr<boost::asio::posix::stream_descriptor> _descriptor;
};

}  // namespace Oru::Knx
