#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "platform/host/BusValue.h"
#include "platform/knx/DatapointCodec.h"

using namespace Oru;
using namespace Oru::Knx;
using boost::posix_time::time_from_string;

namespace {

enum Way { Both, DecodeOnly, EncodeOnly };

struct Row {
    TelegramData data;
    BusValue value;
    Way way = Both;
};

// An encode-only row without data is a value that must not be encoded.
void CheckTable(DatapointType type, const std::vector<Row>& rows)
{
    for (const auto& row : rows) {
        SCOPED_TRACE(DatapointTypeName(type) + " " + FormatBusValue(row.value));
        std::string note;
        if (row.way != EncodeOnly) {
            const auto decoded = DecodeDatapoint(type, row.data, note);
            ASSERT_TRUE(decoded) << note;
            if (type == DatapointType::Temperature) {
                EXPECT_NEAR(std::get<float>(*decoded), std::get<float>(row.value), 1e-7 * 700000);
            } else {
                EXPECT_EQ(FormatBusValue(*decoded), FormatBusValue(row.value));
            }
        }
        if (row.way != DecodeOnly) {
            EXPECT_EQ(EncodeDatapoint(type, row.value, note).value_or(TelegramData{}), row.data);
        }
    }
}

void CheckDropped(DatapointType type, const std::vector<TelegramData>& rows)
{
    for (const auto& data : rows) {
        std::string error;
        EXPECT_FALSE(DecodeDatapoint(type, data, error)) << DatapointTypeName(type) << " " << data.size();
        EXPECT_FALSE(error.empty());
    }
}

BusValue Time(int hour, int minute) { return *OruApp::TimeOfDay::Create(hour, minute); }
BusValue At(const char* text) { return time_from_string(text); }

const DatapointType AllTypes[] = {
    DatapointType::Switch,    DatapointType::Bool,       DatapointType::Alarm,    DatapointType::Step,
    DatapointType::HeatCool,  DatapointType::Percent,    DatapointType::Counter,  DatapointType::Temperature,
    DatapointType::TimeOfDay, DatapointType::Date,       DatapointType::AsciiText, DatapointType::Latin1Text,
    DatapointType::DateTime};

TEST(KnxDatapoint, OneBitTypes)
{
    for (const auto type : {DatapointType::Switch, DatapointType::Bool, DatapointType::Alarm, DatapointType::Step,
                            DatapointType::HeatCool}) {
        CheckTable(type, {{{0x00}, false}, {{0x01}, true}});
        CheckDropped(type, {{0x02}, {0x3F}});
    }
}

TEST(KnxDatapoint, OneOctetTypesCarryTheRawByte)
{
    for (const auto type : {DatapointType::Percent, DatapointType::Counter}) {
        CheckTable(type, {{{0, 0x00}, static_cast<unsigned char>(0)},
                          {{0, 0x80}, static_cast<unsigned char>(128)},
                          {{0, 0xFF}, static_cast<unsigned char>(255)}});
    }
}

TEST(KnxDatapoint, TwoOctetFloat)
{
    CheckTable(DatapointType::Temperature,
               {
                   {{0, 0x00, 0x00}, 0.0f},
                   {{0, 0x87, 0xFF}, -0.01f},
                   {{0, 0x0C, 0x33}, 21.5f},
                   {{0, 0x0C, 0x29}, 21.3f},  // 1064.99996 rounds up, truncation would give 21.28
                   {{0, 0x07, 0xFF}, 20.47f},   // smallest exponent, largest mantissa
                   {{0, 0x0C, 0x00}, 20.48f},   // the first value that needs exponent 1
                   {{0, 0x80, 0x00}, -20.48f},  // smallest exponent, smallest mantissa
                   {{0, 0x7F, 0xFE}, 670433.28f},  // the largest valid code
                   // The top of the range, 2047 * 2^15, has the code reserved for "invalid".
                   {{0, 0x7F, 0xFF}, 670760.96f, EncodeOnly},
                   {{0, 0xF8, 0x00}, -671088.64f},
                   {{0, 0x00, 0xC8}, 2.0f},
                   {{0, 0x08, 0x64}, 2.0f, DecodeOnly},   // 100 * 2^1, not normalised
                   {{0, 0x78, 0x00}, 0.0f, DecodeOnly},   // largest exponent, zero mantissa
                   {{0, 0xFF, 0xFF}, -327.68f, DecodeOnly},  // -1 * 2^15
                   {{0, 0x7F, 0xFF}, std::numeric_limits<float>::quiet_NaN(), EncodeOnly},
                   {{0, 0x7F, 0xFF}, 670761.0f, EncodeOnly},
                   {{0, 0x7F, 0xFF}, -671089.0f, EncodeOnly},
               });
    CheckDropped(DatapointType::Temperature, {{0, 0x7F, 0xFF}});
}

TEST(KnxDatapoint, TimeOfDayIgnoresTheWeekday)
{
    CheckTable(DatapointType::TimeOfDay, {
                                             {{0, 0x12, 0x1E, 0x00}, Time(18, 30)},
                                             {{0, 0x00, 0x00, 0x00}, Time(0, 0)},
                                             {{0, 0x17, 0x3B, 0x00}, Time(23, 59)},
                                             {{0, 0xF2, 0x1E, 0x2D}, Time(18, 30), DecodeOnly},  // Sunday, 45 s
                                         });
    CheckDropped(DatapointType::TimeOfDay, {{0, 0x18, 0x00, 0x00}, {0, 0x17, 0x3C, 0x00}, {0, 0x17, 0x00, 0x3C}});
}

TEST(KnxDatapoint, DateWithTheCenturyRule)
{
    CheckTable(DatapointType::Date, {
                                        {{0, 0x18, 0x05, 0x18}, At("2024-05-24 00:00:00")},
                                        {{0, 0x01, 0x01, 0x5A}, At("1990-01-01 00:00:00")},
                                        {{0, 0x1F, 0x0C, 0x59}, At("2089-12-31 00:00:00")},
                                        {{0, 0x01, 0x01, 0x00}, At("2000-01-01 00:00:00")},
                                        {{0, 0x18, 0x05, 0x18}, At("2024-05-24 18:30:00"), EncodeOnly},
                                        {{}, At("1989-12-31 00:00:00"), EncodeOnly},
                                        {{}, At("2090-01-01 00:00:00"), EncodeOnly},
                                    });
    CheckDropped(DatapointType::Date, {{0, 0x1E, 0x02, 0x18}, {0, 0x01, 0x0D, 0x18}, {0, 0x00, 0x01, 0x18},
                                       {0, 0x01, 0x01, 0x64}});
}

TEST(KnxDatapoint, DateTimeHonoursItsFlags)
{
    CheckTable(DatapointType::DateTime,
               {
                   {{0, 124, 5, 17, 0xB2, 30, 0, 0x20, 0}, At("2024-05-17 18:30:00")},  // a Friday
                   {{0, 0, 1, 1, 0x20, 0, 0, 0x20, 0}, At("1900-01-01 00:00:00")},       // a Monday
                   {{0, 255, 12, 31, 0x77, 59, 59, 0x20, 0}, At("2155-12-31 23:59:59")},  // a Wednesday
                   {{0, 255, 12, 31, 0x78, 0, 0, 0x20, 0}, At("2156-01-01 00:00:00")},    // 24:00 of the last day
                   {{0, 124, 5, 17, 0xB2, 30, 0, 0x02, 0}, At("2024-05-17 00:00:00"), DecodeOnly},  // no time
                   {{0, 124, 5, 17, 0x18, 0, 0, 0x00, 0}, At("2024-05-18 00:00:00"), DecodeOnly},   // 24:00:00
                   {{}, At("1899-12-31 23:59:59"), EncodeOnly},
                   {{}, boost::posix_time::ptime(), EncodeOnly},
               });
    CheckDropped(DatapointType::DateTime, {
                                              {0, 124, 5, 17, 0xB2, 30, 0, 0x80, 0},  // fault
                                              {0, 124, 5, 17, 0xB2, 30, 0, 0x10, 0},  // no year
                                              {0, 124, 5, 17, 0xB2, 30, 0, 0x08, 0},  // no date
                                              {0, 124, 5, 17, 0x18, 1, 0, 0x00, 0},   // 24:01
                                              {0, 124, 13, 17, 0x12, 0, 0, 0x00, 0},  // month 13
                                              {0, 124, 2, 30, 0x12, 0, 0, 0x00, 0},   // 30 February
                                              {0, 124, 5, 17, 0x12, 60, 0, 0x00, 0},  // minute 60
                                          });
}

TEST(KnxDatapoint, FourteenCharacterTexts)
{
    const TelegramData noError = {0, '-', '0', ':', 'N', 'o', 'E', 'r', 'r', 'o', 'r', 0, 0, 0, 0};
    const TelegramData warm = {0, 'W', 0xE4, 'r', 'm', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const TelegramData warmAscii = {0, 'W', '?', 'r', 'm', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const TelegramData full = {0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n'};
    CheckTable(DatapointType::Latin1Text, {{noError, std::string("-0:NoError")},
                                           {warm, std::string("W\xC3\xA4rme")},
                                           {full, std::string("abcdefghijklmn")},
                                           {warmAscii, std::string("W\xE2\x82\xACrme"), EncodeOnly}});
    CheckTable(DatapointType::AsciiText, {{noError, std::string("-0:NoError")},
                                          {warmAscii, std::string("W\xC3\xA4rme"), EncodeOnly}});
    CheckDropped(DatapointType::AsciiText, {warm});

    std::string note;
    const auto cut = EncodeDatapoint(DatapointType::Latin1Text, std::string("abcdefghijklmnop"), note);
    EXPECT_EQ(cut.value_or(TelegramData{}), full);
    EXPECT_EQ(note, "text cut to 14 characters");
}

TEST(KnxDatapoint, EveryWrongLengthIsDropped)
{
    const std::size_t rightLength[] = {1, 1, 1, 1, 1, 2, 2, 3, 4, 4, 15, 15, 9};
    for (std::size_t i = 0; i < std::size(AllTypes); ++i) {
        for (std::size_t length = 0; length <= 17; ++length) {
            if (length != rightLength[i]) {
                CheckDropped(AllTypes[i], {TelegramData(length, 0)});
            }
        }
    }
}

TEST(KnxDatapoint, ValuesOfAnotherTypeAreNotEncoded)
{
    std::string note;
    EXPECT_FALSE(EncodeDatapoint(DatapointType::Temperature, true, note));
    EXPECT_EQ(note, "a bool value does not fit 9.001");
}

}  // namespace
