#include "CommunicationObjectMap.h"

namespace Keldra {
namespace {

CoNumber EncodeStationLocal(const BaseStationNumber& baseStation, int stationLocal)
{
    // Both parts are in range by construction of the callers' bounded values.
    const auto flat = BaseStationCoBlock(baseStation, *BaseStationCoOffset::Create(stationLocal)).ToFlat();
    return *CoNumber::Create(flat.Value());
}

int StationLocalNumber(const BaseStationCo::Function& function)
{
    struct Visitor : boost::static_visitor<int> {
        int operator()(const RoomThermostatCo& co) const { return co.ToFlat().Value(); }
        int operator()(const PowerLevelCo& co) const { return co.ToFlat().Value(); }
        int operator()(const BaseStationGeneralCo& co) const { return static_cast<int>(co.Value()); }
    };
    return boost::apply_visitor(Visitor(), function);
}

}  // namespace

boost::optional<DecodedCo> DecodeCo(const CoNumber& co)
{
    if (const auto system = SystemCo::Create(static_cast<SystemCoOffsetValue>(co.Value()))) {
        return DecodedCo(*system);
    }

    const auto block = BaseStationCoBlock::FromFlat(*BaseStationCoBlock::Flat::Create(co.Value()));
    const BaseStationNumber baseStation = block.GetIndex();
    const int stationLocal = block.GetOffset().Value();

    if (const auto general = BaseStationGeneralCo::Create(static_cast<BaseStationGeneralCoOffsetValue>(stationLocal))) {
        return DecodedCo(BaseStationCo{baseStation, *general});
    }
    if (const auto powerLevel = PowerLevelCo::Flat::Create(stationLocal)) {
        return DecodedCo(BaseStationCo{baseStation, PowerLevelCo::FromFlat(*powerLevel)});
    }
    if (const auto thermostat = RoomThermostatCo::Flat::Create(stationLocal)) {
        return DecodedCo(BaseStationCo{baseStation, RoomThermostatCo::FromFlat(*thermostat)});
    }
    return boost::none;
}

CoNumber EncodeCo(const BaseStationNumber& baseStation, const RoomThermostat& thermostat,
                  const RoomThermostatCoOffset& function)
{
    return EncodeStationLocal(baseStation, RoomThermostatCo(thermostat, function).ToFlat().Value());
}

CoNumber EncodeCo(const BaseStationNumber& baseStation, const ActorModuleSlot& slot,
                  const PowerLevelCoOffset& function)
{
    return EncodeStationLocal(baseStation, PowerLevelCo(slot, function).ToFlat().Value());
}

CoNumber EncodeCo(const BaseStationNumber& baseStation, const BaseStationGeneralCo& function)
{
    return EncodeStationLocal(baseStation, static_cast<int>(function.Value()));
}

CoNumber EncodeCo(const BaseStationCo& co)
{
    return EncodeStationLocal(co.baseStation, StationLocalNumber(co.function));
}

std::ostream& operator<<(std::ostream& stream, const BaseStationCo& co)
{
    struct Visitor : boost::static_visitor<void> {
        explicit Visitor(std::ostream& output) : out(output) {}
        void operator()(const RoomThermostatCo& function) const
        {
            out << "(" << function.GetIndex() << "|" << function.GetOffset() << ")=" << function.ToFlat() << ")";
        }
        void operator()(const PowerLevelCo& function) const
        {
            out << "(" << function.GetIndex() << "|" << function.GetOffset() << ")=" << function.ToFlat() << ")";
        }
        void operator()(const BaseStationGeneralCo& function) const { out << function << ")"; }
        std::ostream& out;
    };
    stream << EncodeCo(co) << "(BaseStationCo) (" << co.baseStation << "|";
    boost::apply_visitor(Visitor(stream), co.function);
    return stream;
}

}  // namespace Keldra
