#include <gtest/gtest.h>

#include "app/CommunicationObjectMap.h"

using namespace Keldra;

namespace {

// The encoders the status publication uses, one per kind of station CO.
struct Encoder : boost::static_visitor<CoNumber> {
    CoNumber operator()(const RoomThermostatCo& co) const { return EncodeCo(station, co.GetIndex(), co.GetOffset()); }
    CoNumber operator()(const PowerLevelCo& co) const { return EncodeCo(station, co.GetIndex(), co.GetOffset()); }
    CoNumber operator()(const BaseStationGeneralCo& co) const { return EncodeCo(station, co); }
    BaseStationNumber station;
};

}  // namespace

// 25..36, 99 and 100 of each station's block of 100 are not assigned; the
// rest of 1..500 decodes one to one onto the 5 x (24 thermostat + 60 power
// level + 2 general) station COs, and every encoder gives the number back.
TEST(CommunicationObjectMap, EveryNumberDecodesUnlessUnassignedAndEncodesBack)
{
    EXPECT_FALSE(CoNumber::Create(0));
    EXPECT_FALSE(CoNumber::Create(518));
    std::size_t stationCos = 0;
    for (const auto co : CoNumber::All()) {
        SCOPED_TRACE(co.Value());
        const int local = (co.Value() - 1) % 100 + 1;
        const bool unassigned = co.Value() <= 500 && ((local >= 25 && local <= 36) || local >= 99);
        const auto decoded = DecodeCo(co);
        ASSERT_EQ(decoded.has_value(), !unassigned);
        if (const auto* system = decoded ? boost::get<SystemCo>(&*decoded) : nullptr) {
            EXPECT_GE(co.Value(), 501);
            EXPECT_EQ(static_cast<int>(system->Value()), co.Value());
        } else if (decoded) {
            const auto& stationCo = boost::get<BaseStationCo>(*decoded);
            EXPECT_EQ(EncodeCo(stationCo), co);
            EXPECT_EQ(boost::apply_visitor(Encoder{{}, stationCo.baseStation}, stationCo.function), co);
            ++stationCos;
        }
    }
    EXPECT_EQ(stationCos, 5u * 86u);
}
