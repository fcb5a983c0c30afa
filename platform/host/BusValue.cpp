#include "BusValue.h"

#include <sstream>

#include <boost/date_time/posix_time/posix_time_io.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>

#include "QuotedText.h"

namespace Oru {

std::string BusValueTypeName(const BusValue& value)
{
    static const char* const names[] = {"text", "bool", "byte", "float", "word", "dword", "long", "datetime", "time"};
    static_assert(sizeof names / sizeof names[0] == std::variant_size_v<BusValue>, "one name per type");
    return names[value.index()];
}

std::string FormatBusValue(const BusValue& value)
{
    struct Formatter {
        std::string operator()(const std::string& text) const { return Quote(text); }
        std::string operator()(bool on) const { return on ? "true" : "false"; }
        std::string operator()(unsigned char byte) const { return std::to_string(static_cast<unsigned>(byte)); }
        std::string operator()(float number) const
        {
            std::ostringstream text;
            text << number;
            return text.str();
        }
        std::string operator()(unsigned short word) const { return std::to_string(word); }
        std::string operator()(unsigned long dword) const { return std::to_string(dword); }
        std::string operator()(long number) const { return std::to_string(number); }
        std::string operator()(const boost::posix_time::ptime& time) const
        {
            return time.is_special() ? "none" : boost::posix_time::to_iso_extended_string(time);
        }
        std::string operator()(const OruApp::TimeOfDay& time) const
        {
            std::ostringstream text;
            text << time;
            return text.str();
        }
    };
    return std::visit(Formatter(), value);
}

}  // namespace Oru
