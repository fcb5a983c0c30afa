// The gateway host on the KNX bus: translates between group telegrams and
// the plug-in's communication objects, as the group address map says.
//  - GroupValue_Write on an input address: decoded and delivered, in bus order;
//  - a value of the plug-in: GroupValue_Write on its object's address, kept
//    as the address's latest value (the only thing kept while knxd is away);
//  - GroupValue_Read on a status address: GroupValue_Response with the latest value;
//  - after every (re)connection: the latest value of every status address again.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/io_service.hpp>

#include "platform/host/BusValue.h"
#include "DatapointCodec.h"
#include "GroupAddressMap.h"
#include "KnxConnection.h"

namespace Oru::Knx {

class KnxBus {
public:
    // On the loop's thread.
    using Deliver = std::function<void(int co, const BusValue& value)>;
    // Telegram lines and what went wrong; from any thread.
    using Log = std::function<void(const std::string& line)>;

    KnxBus(boost::asio::io_service& ioService, const std::string& url, GroupAddressMap map, Deliver deliver, Log log);
    ~KnxBus();

    void Start();

    // From any thread; the order of one thread's values is kept.
    void Send(int co, const BusValue& value);

private:
    void OnTelegram(const GroupTelegram& telegram);
    void OnConnected();
    // Under _mutex.
    void Write(GroupAddress address, const TelegramData& data, bool response);

    const GroupAddressMap _map;
    const Deliver _deliver;
    const Log _log;
    std::shared_ptr<KnxConnection> _connection;

    std::mutex _mutex;  // the latest values, and the order of the writes
    std::map<GroupAddress, TelegramData> _latest;
};

}  // namespace Oru::Knx
