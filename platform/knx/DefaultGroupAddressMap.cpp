#include "DefaultGroupAddressMap.h"

#include <map>

namespace Oru::Knx {
namespace {

constexpr int SystemMainGroup = 0;
constexpr int InputMiddleGroup = 0;
constexpr int StatusMiddleGroup = 1;

void Add(std::vector<GroupAddressAssignment>& assignments, int co)
{
    const auto kind = KindOfCommunicationObject(co);
    const int main = co > 500 ? SystemMainGroup : (co - 1) / 100 + 1;
    const int sub = co > 500 ? co - 500 : (co - 1) % 100 + 1;
    const int middle = kind->direction == Direction::Input ? InputMiddleGroup : StatusMiddleGroup;
    assignments.push_back(
        {co, static_cast<GroupAddress>(main << 11 | middle << 8 | sub), kind->defaultType, kind->direction});
}

std::string EscapeXml(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&apos;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string MainGroupName(int main)
{
    if (main == SystemMainGroup) {
        return "System";
    }
    return (main <= 5 ? "Base station " : "Main group ") + std::to_string(main);
}

std::string MiddleGroupName(int middle)
{
    if (middle == InputMiddleGroup || middle == StatusMiddleGroup) {
        return middle == InputMiddleGroup ? "Inputs" : "Status";
    }
    return "Middle group " + std::to_string(middle);
}

// The raw addresses of a range; ETS does not take 0/0/0.
std::string Range(int start, int length)
{
    return "RangeStart=\"" + std::to_string(start == 0 ? 1 : start) + "\" RangeEnd=\"" +
           std::to_string(start + length - 1) + "\"";
}

}  // namespace

GroupAddressMap DefaultGroupAddressMap(const std::vector<StationLayout>& stations)
{
    std::vector<GroupAddressAssignment> assignments;
    for (std::size_t n = 0; n < stations.size() && n < 5; ++n) {
        const int block = static_cast<int>(n) * 100;
        for (int t = 0; t < stations[n].thermostats && t < 8; ++t) {
            for (int f = 1; f <= 3; ++f) {
                Add(assignments, block + 3 * t + f);
            }
        }
        for (int s = 0; s < stations[n].slots && s < 12; ++s) {
            for (int g = 37; g <= 41; ++g) {
                Add(assignments, block + 5 * s + g);
            }
        }
        Add(assignments, block + 97);
        Add(assignments, block + 98);
    }
    for (int co = 501; co <= 517; ++co) {
        if (KindOfCommunicationObject(co)) {
            Add(assignments, co);
        }
    }
    return GroupAddressMap(std::move(assignments));
}

void WriteGroupAddressMap(std::ostream& output, const GroupAddressMap& map, const DescribeObject& describe)
{
    output << "# Group address map of keldra-gateway-host (--knx-map): CO = group address, datapoint type\n";
    for (const auto& assignment : map.Assignments()) {
        output << "# " << describe(assignment.co) << '\n'
               << assignment.co << " = " << FormatGroupAddress(assignment.address) << ' '
               << DatapointTypeName(assignment.type) << '\n';
    }
}

void WriteEtsGroupAddresses(std::ostream& output, const GroupAddressMap& map, const DescribeObject& describe)
{
    // main group -> middle group -> the objects, in address order
    std::map<int, std::map<int, std::multimap<GroupAddress, const GroupAddressAssignment*>>> tree;
    for (const auto& assignment : map.Assignments()) {
        tree[assignment.address >> 11][(assignment.address >> 8) & 0x07].emplace(assignment.address, &assignment);
    }
    output << "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
           << "<GroupAddress-Export xmlns=\"http://knx.org/xml/ga-export/01\">\n";
    for (const auto& [main, middles] : tree) {
        output << "  <GroupRange Name=\"" << EscapeXml(MainGroupName(main)) << "\" " << Range(main << 11, 2048)
               << ">\n";
        for (const auto& [middle, objects] : middles) {
            output << "    <GroupRange Name=\"" << EscapeXml(MiddleGroupName(middle)) << "\" "
                   << Range(main << 11 | middle << 8, 256) << ">\n";
            for (const auto& [address, assignment] : objects) {
                output << "      <GroupAddress Name=\"" << EscapeXml(describe(assignment->co)) << "\" Address=\""
                       << FormatGroupAddress(address) << "\" DPTs=\"" << EtsDatapointTypeName(assignment->type)
                       << "\" Description=\"CO " << assignment->co << "\" />\n";
            }
            output << "    </GroupRange>\n";
        }
        output << "  </GroupRange>\n";
    }
    output << "</GroupAddress-Export>\n";
}

}  // namespace Oru::Knx
