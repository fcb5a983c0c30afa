#include "DatapointCodec.h"

#include <cmath>
#include <cstdint>
#include <exception>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Oru::Knx {
namespace {

using boost::gregorian::date;
using boost::posix_time::ptime;

constexpr std::size_t TextLength = 14;
constexpr std::uint16_t InvalidFloat = 0x7FFF;

// Octets after the APCI that each type needs.
std::size_t DataLength(DatapointType type)
{
    switch (type) {
    case DatapointType::Percent:
    case DatapointType::Counter: return 1;
    case DatapointType::Temperature: return 2;
    case DatapointType::TimeOfDay:
    case DatapointType::Date: return 3;
    case DatapointType::AsciiText:
    case DatapointType::Latin1Text: return TextLength;
    case DatapointType::DateTime: return 8;
    default: return 0;
    }
}

// 2-octet float: MEEEEMMM MMMMMMMM, value = 0.01 * M * 2^E with M a 12-bit
// two's complement; any exponent is read, not only the normalised one.
boost::optional<BusValue> DecodeFloat(std::uint8_t high, std::uint8_t low, std::string& error)
{
    const std::uint16_t raw = static_cast<std::uint16_t>(high << 8 | low);
    if (raw == InvalidFloat) {
        error = "the invalid value 7FFF";
        return boost::none;
    }
    const int mantissa = (raw & 0x07FF) - ((raw & 0x8000) ? 2048 : 0);
    const int exponent = (raw >> 11) & 0x0F;
    return BusValue(static_cast<float>(0.01 * std::ldexp(mantissa, exponent)));
}

// The smallest exponent whose mantissa, rounded to nearest, fits.
boost::optional<TelegramData> EncodeFloat(float value, std::string& note)
{
    double hundredths = std::round(static_cast<double>(value) * 100.0);
    if (!std::isfinite(hundredths) || hundredths > 2047.0 * 32768 || hundredths < -2048.0 * 32768) {
        note = "outside the range of 9.001, sent as invalid";
        return TelegramData{0, InvalidFloat >> 8, InvalidFloat & 0xFF};
    }
    int exponent = 0;
    double mantissa = hundredths;
    while (mantissa > 2047 || mantissa < -2048) {
        ++exponent;
        mantissa = std::round(static_cast<double>(value) * 100.0 / (1 << exponent));
    }
    const int bits = static_cast<int>(mantissa) & 0x0FFF;
    const int raw = (bits & 0x0800) << 4 | exponent << 11 | (bits & 0x07FF);
    if (raw == InvalidFloat) {
        // 2047 * 2^15, the top of the standard's range, is the invalid code.
        note = "above 670433.28, sent as invalid";
    }
    return TelegramData{0, static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw & 0xFF)};
}

// Code points of UTF-8 text; an invalid sequence gives one replacement each.
std::vector<unsigned> CodePoints(const std::string& text)
{
    std::vector<unsigned> points;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x06 ? 2
                           : (lead >> 4) == 0x0E ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        unsigned point = length == 1 ? lead : length == 0 ? 0 : (lead & (0x7F >> length));
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            point = point << 6 | (next & 0x3F);
        }
        points.push_back(valid ? point : 0xFFFD);
        i += valid ? length : 1;
    }
    return points;
}

std::string Utf8(unsigned point)
{
    if (point < 0x80) {
        return std::string(1, static_cast<char>(point));
    }
    return {static_cast<char>(0xC0 | point >> 6), static_cast<char>(0x80 | (point & 0x3F))};
}

boost::optional<TelegramData> EncodeText(DatapointType type, const std::string& text, std::string& note)
{
    const unsigned highest = type == DatapointType::AsciiText ? 0x7F : 0xFF;
    auto points = CodePoints(text);
    if (points.size() > TextLength) {
        note = "text cut to " + std::to_string(TextLength) + " characters";
        points.resize(TextLength);
    }
    TelegramData data(1 + TextLength, 0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        data[1 + i] = static_cast<std::uint8_t>(points[i] <= highest && points[i] != 0 ? points[i] : '?');
    }
    return data;
}

boost::optional<BusValue> DecodeText(DatapointType type, const TelegramData& data, std::string& error)
{
    std::string text;
    for (std::size_t i = 1; i < data.size() && data[i] != 0; ++i) {
        if (type == DatapointType::AsciiText && data[i] > 0x7F) {
            error = "a character outside ASCII";
            return boost::none;
        }
        text += Utf8(data[i]);
    }
    return BusValue(text);
}

boost::optional<date> MakeDate(int year, int month, int day)
{
    try {
        return date(static_cast<unsigned short>(year), static_cast<unsigned short>(month),
                    static_cast<unsigned short>(day));
    } catch (const std::exception&) {
        return boost::none;
    }
}

boost::optional<BusValue> DecodeTimeOfDay(const TelegramData& data, std::string& error)
{
    const auto time = OruApp::TimeOfDay::Create(data[1] & 0x1F, data[2] & 0x3F);
    if (!time || (data[3] & 0x3F) > 59) {
        error = "not a time of day";
        return boost::none;
    }
    return BusValue(*time);
}

boost::optional<BusValue> DecodeDate(const TelegramData& data, std::string& error)
{
    const int year = data[3] & 0x7F;
    const auto day = MakeDate(year >= 90 ? 1900 + year : 2000 + year, data[2] & 0x0F, data[1] & 0x1F);
    if (year > 99 || !day) {
        error = "not a date";
        return boost::none;
    }
    return BusValue(ptime(*day));
}

boost::optional<TelegramData> EncodeDate(const ptime& value, std::string& note)
{
    const int year = value.is_special() ? 0 : static_cast<int>(value.date().year());
    if (year < 1990 || year > 2089) {
        note = "11.001 carries the years 1990..2089 only";
        return boost::none;
    }
    const auto day = value.date();
    return TelegramData{0, static_cast<std::uint8_t>(day.day()), static_cast<std::uint8_t>(day.month()),
                        static_cast<std::uint8_t>(year % 100)};
}

namespace DateTimeFlag {
constexpr std::uint8_t Fault = 0x80;
constexpr std::uint8_t NoWorkingDay = 0x20;
constexpr std::uint8_t NoYear = 0x10;
constexpr std::uint8_t NoDate = 0x08;
constexpr std::uint8_t NoTime = 0x02;
}  // namespace DateTimeFlag

boost::optional<BusValue> DecodeDateTime(const TelegramData& data, std::string& error)
{
    const std::uint8_t flags = data[7];
    if (flags & DateTimeFlag::Fault) {
        error = "the fault flag is set";
        return boost::none;
    }
    if (flags & (DateTimeFlag::NoYear | DateTimeFlag::NoDate)) {
        error = "it carries no date";
        return boost::none;
    }
    const auto day = MakeDate(1900 + data[1], data[2] & 0x0F, data[3] & 0x1F);
    const bool noTime = flags & DateTimeFlag::NoTime;
    const int hour = noTime ? 0 : data[4] & 0x1F;
    const int minute = noTime ? 0 : data[5] & 0x3F;
    const int second = noTime ? 0 : data[6] & 0x3F;
    if (!day || hour > 24 || minute > 59 || second > 59 || (hour == 24 && minute + second != 0)) {
        error = "not a date and time";
        return boost::none;
    }
    return BusValue(ptime(*day, boost::posix_time::time_duration(hour, minute, second)));
}

boost::optional<TelegramData> EncodeDateTime(const ptime& value, std::string& note)
{
    // The first moment of 2156 is 24:00 of the last day of 2155, as such a telegram decodes.
    const bool endOfLastDay = !value.is_special() && value == ptime(date(2156, 1, 1));
    const auto day = endOfLastDay ? date(2155, 12, 31) : value.date();
    const int year = day.is_special() ? 0 : static_cast<int>(day.year());
    if (year < 1900 || year > 2155) {
        note = "19.001 carries the years 1900..2155 only";
        return boost::none;
    }
    const auto time = value.time_of_day();
    const int hours = endOfLastDay ? 24 : static_cast<int>(time.hours());
    const int weekday = day.day_of_week() == 0 ? 7 : day.day_of_week().as_number();
    return TelegramData{0,
                        static_cast<std::uint8_t>(year - 1900),
                        static_cast<std::uint8_t>(day.month()),
                        static_cast<std::uint8_t>(day.day()),
                        static_cast<std::uint8_t>(weekday << 5 | hours),
                        static_cast<std::uint8_t>(time.minutes()),
                        static_cast<std::uint8_t>(time.seconds()),
                        DateTimeFlag::NoWorkingDay,
                        0};
}

}  // namespace

boost::optional<BusValue> DecodeDatapoint(DatapointType type, const TelegramData& data, std::string& error)
{
    const std::size_t length = DataLength(type);
    if (data.size() != 1 + length) {
        error = std::to_string(data.empty() ? 0 : data.size() - 1) + " octets after the APCI, " +
                DatapointTypeName(type) + " needs " + std::to_string(length);
        return boost::none;
    }
    switch (type) {
    case DatapointType::Switch:
    case DatapointType::Bool:
    case DatapointType::Alarm:
    case DatapointType::Step:
    case DatapointType::HeatCool:
        if (data[0] > 1) {
            error = "not a 1-bit value";
            return boost::none;
        }
        return BusValue(data[0] == 1);
    case DatapointType::Percent:
    case DatapointType::Counter: return BusValue(static_cast<unsigned char>(data[1]));
    case DatapointType::Temperature: return DecodeFloat(data[1], data[2], error);
    case DatapointType::TimeOfDay: return DecodeTimeOfDay(data, error);
    case DatapointType::Date: return DecodeDate(data, error);
    case DatapointType::AsciiText:
    case DatapointType::Latin1Text: return DecodeText(type, data, error);
    case DatapointType::DateTime: return DecodeDateTime(data, error);
    }
    error = "an unknown type";
    return boost::none;
}

boost::optional<TelegramData> EncodeDatapoint(DatapointType type, const BusValue& value, std::string& note)
{
    if (value.index() != BusValueIndexOf(type)) {
        note = "a " + BusValueTypeName(value) + " value does not fit " + DatapointTypeName(type);
        return boost::none;
    }
    switch (type) {
    case DatapointType::Switch:
    case DatapointType::Bool:
    case DatapointType::Alarm:
    case DatapointType::Step:
    case DatapointType::HeatCool: return TelegramData{static_cast<std::uint8_t>(std::get<bool>(value) ? 1 : 0)};
    case DatapointType::Percent:
    case DatapointType::Counter: return TelegramData{0, std::get<unsigned char>(value)};
    case DatapointType::Temperature: return EncodeFloat(std::get<float>(value), note);
    case DatapointType::TimeOfDay: {
        const auto& time = std::get<OruApp::TimeOfDay>(value);
        return TelegramData{0, static_cast<std::uint8_t>(time.GetHour()), static_cast<std::uint8_t>(time.GetMinute()),
                            0};
    }
    case DatapointType::Date: return EncodeDate(std::get<ptime>(value), note);
    case DatapointType::AsciiText:
    case DatapointType::Latin1Text: return EncodeText(type, std::get<std::string>(value), note);
    case DatapointType::DateTime: return EncodeDateTime(std::get<ptime>(value), note);
    }
    note = "an unknown type";
    return boost::none;
}

}  // namespace Oru::Knx
