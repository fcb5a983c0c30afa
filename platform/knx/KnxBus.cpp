#include "KnxBus.h"

#include <cstdio>

namespace Oru::Knx {
namespace {

constexpr std::uint8_t ApciRead = 0x00;
constexpr std::uint8_t ApciResponse = 0x40;
constexpr std::uint8_t ApciWrite = 0x80;

std::string Hex(const std::vector<std::uint8_t>& octets, std::size_t from)
{
    std::string text;
    for (std::size_t i = from; i < octets.size(); ++i) {
        char octet[4];
        std::snprintf(octet, sizeof octet, " %02X", octets[i]);
        text += octet;
    }
    return text;
}

// "write 0C 29", as knxd's tools show the APDU after its first octet.
std::string Describe(const std::vector<std::uint8_t>& apdu)
{
    if (apdu.size() < 2) {
        return "short APDU" + Hex(apdu, 0);
    }
    const int apci = (apdu[0] & 0x03) << 8 | (apdu[1] & 0xC0);
    const char* name = apci == ApciWrite      ? "write"
                       : apci == ApciResponse ? "response"
                       : apci == ApciRead     ? "read"
                                              : "APDU";
    if (apci == ApciRead && apdu.size() == 2) {
        return name;
    }
    return name + (apdu.size() == 2 ? Hex({static_cast<std::uint8_t>(apdu[1] & 0x3F)}, 0) : Hex(apdu, 2));
}

}  // namespace

KnxBus::KnxBus(boost::asio::io_service& ioService, const std::string& url, GroupAddressMap map, Deliver deliver,
               Log log)
    : _map(std::move(map)), _deliver(std::move(deliver)), _log(std::move(log))
{
    _connection = KnxConnection::Create(
        ioService, url, [this](const GroupTelegram& telegram) { OnTelegram(telegram); },
        [this]() { OnConnected(); }, [this](const std::string& line) { _log("knx " + line); });
}

KnxBus::~KnxBus() { _connection->Stop(); }

void KnxBus::Start() { _connection->Start(); }

void KnxBus::Send(int co, const BusValue& value)
{
    const auto* assignment = _map.Find(co);
    if (!assignment || assignment->direction != Direction::Status) {
        return;
    }
    std::string note;
    const auto data = EncodeDatapoint(assignment->type, value, note);
    if (!note.empty()) {
        _log("knx CO " + std::to_string(co) + " on " + FormatGroupAddress(assignment->address) + ": " + note);
    }
    if (!data) {
        return;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _latest[assignment->address] = *data;
    Write(assignment->address, *data, false);
}

void KnxBus::Write(GroupAddress address, const TelegramData& data, bool response)
{
    std::vector<std::uint8_t> apdu(data.size() + 1, 0);
    apdu[1] = static_cast<std::uint8_t>((response ? ApciResponse : ApciWrite) | data[0]);
    for (std::size_t i = 1; i < data.size(); ++i) {
        apdu[i + 1] = data[i];
    }
    if (_connection->Send(address, apdu)) {
        _log("knx -> " + FormatGroupAddress(address) + " " + Describe(apdu));
    }
}

void KnxBus::OnConnected()
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (const auto& [address, data] : _latest) {
        Write(address, data, false);
    }
}

void KnxBus::OnTelegram(const GroupTelegram& telegram)
{
    const std::string line = FormatIndividualAddress(telegram.source) + " -> " +
                             FormatGroupAddress(telegram.destination) + " " + Describe(telegram.apdu);
    const auto objects = _map.OnAddress(telegram.destination);
    if (objects.empty() || telegram.apdu.size() < 2) {
        return;
    }
    _log("knx " + line);
    const int apci = (telegram.apdu[0] & 0x03) << 8 | (telegram.apdu[1] & 0xC0);
    if (apci == ApciRead) {
        std::lock_guard<std::mutex> lock(_mutex);
        const auto latest = _latest.find(telegram.destination);
        if (latest != _latest.end()) {
            Write(telegram.destination, latest->second, true);
        }
        return;
    }
    if (apci != ApciWrite) {
        return;
    }
    TelegramData data(telegram.apdu.begin() + 1, telegram.apdu.end());
    data[0] &= 0x3F;
    boost::optional<BusValue> value;  // every input of an address has one type
    for (const auto* object : objects) {
        if (object->direction != Direction::Input) {
            continue;
        }
        std::string error;
        if (!value && !(value = DecodeDatapoint(object->type, data, error))) {
            _log("knx dropped " + line + ": " + error);
            return;
        }
        _deliver(object->co, *value);
    }
}

}  // namespace Oru::Knx
