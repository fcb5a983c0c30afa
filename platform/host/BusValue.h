// A value of one of the nine types the gateway exchanges with a plug-in on
// a communication object, with its type name and printed form as the host's
// bus console shows them.
#pragma once

#include <string>
#include <variant>

#include <boost/date_time/posix_time/ptime.hpp>

#include "app/OruApp.h"

namespace Oru {

// In the order of the gateway interface: text, bool, byte, float, word,
// dword, long, date and time, time of day.
using BusValue = std::variant<std::string, bool, unsigned char, float, unsigned short, unsigned long, long,
                              boost::posix_time::ptime, OruApp::TimeOfDay>;

// "text", "bool", "byte", "float", "word", "dword", "long", "datetime", "time".
std::string BusValueTypeName(const BusValue& value);

// The value as the console syntax writes it: text quoted ("\"-0:NoError\""),
// true/false, numbers in decimal, "2026-12-24T18:00:00", "18:30";
// a date and time that is not one prints as "none".
std::string FormatBusValue(const BusValue& value);

}  // namespace Oru
