#include "DatapointType.h"

#include <cstdlib>

namespace Oru::Knx {
namespace {

struct Description {
    DatapointType type;
    int main;
    int sub;
    std::size_t valueIndex;
};

const Description Descriptions[] = {
    {DatapointType::Switch, 1, 1, 1},       {DatapointType::Bool, 1, 2, 1},
    {DatapointType::Alarm, 1, 5, 1},        {DatapointType::Step, 1, 7, 1},
    {DatapointType::HeatCool, 1, 100, 1},   {DatapointType::Percent, 5, 1, 2},
    {DatapointType::Counter, 5, 10, 2},     {DatapointType::Temperature, 9, 1, 3},
    {DatapointType::TimeOfDay, 10, 1, 8},   {DatapointType::Date, 11, 1, 7},
    {DatapointType::AsciiText, 16, 0, 0},   {DatapointType::Latin1Text, 16, 1, 0},
    {DatapointType::DateTime, 19, 1, 7},
};

const Description& Describe(DatapointType type) { return Descriptions[static_cast<int>(type)]; }

boost::optional<int> ParseNumber(const std::string& text)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) {
        return boost::none;
    }
    return std::atoi(text.c_str());
}

}  // namespace

boost::optional<DatapointType> ParseDatapointType(const std::string& text)
{
    std::string rest = text;
    if (rest.compare(0, 3, "DPT") == 0) {
        rest = rest.substr(3);
    }
    const auto dot = rest.find('.');
    if (dot == std::string::npos) {
        return boost::none;
    }
    const auto main = ParseNumber(rest.substr(0, dot));
    const auto sub = ParseNumber(rest.substr(dot + 1));
    if (!main || !sub) {
        return boost::none;
    }
    for (const auto& description : Descriptions) {
        if (description.main == *main && description.sub == *sub) {
            return description.type;
        }
    }
    return boost::none;
}

std::string DatapointTypeName(DatapointType type)
{
    const auto& description = Describe(type);
    std::string sub = std::to_string(description.sub);
    return std::to_string(description.main) + "." + std::string(3 - sub.size(), '0') + sub;
}

std::string EtsDatapointTypeName(DatapointType type)
{
    const auto& description = Describe(type);
    return "DPST-" + std::to_string(description.main) + "-" + std::to_string(description.sub);
}

std::size_t BusValueIndexOf(DatapointType type) { return Describe(type).valueIndex; }

bool IsSmall(DatapointType type) { return Describe(type).main == 1; }

}  // namespace Oru::Knx
