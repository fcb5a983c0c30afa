#include "GroupAddressMap.h"

#include <algorithm>
#include <sstream>

namespace Oru::Knx {

GroupAddressMap::GroupAddressMap(std::vector<GroupAddressAssignment> assignments) : _assignments(std::move(assignments))
{
    std::sort(_assignments.begin(), _assignments.end(),
              [](const auto& left, const auto& right) { return left.co < right.co; });
    for (std::size_t i = 0; i < _assignments.size(); ++i) {
        _byCo.emplace(_assignments[i].co, i);
        _byAddress.emplace(_assignments[i].address, i);
    }
}

const GroupAddressAssignment* GroupAddressMap::Find(int co) const
{
    const auto entry = _byCo.find(co);
    return entry == _byCo.end() ? nullptr : &_assignments[entry->second];
}

std::vector<const GroupAddressAssignment*> GroupAddressMap::OnAddress(GroupAddress address) const
{
    std::vector<const GroupAddressAssignment*> found;
    const auto [first, last] = _byAddress.equal_range(address);
    for (auto entry = first; entry != last; ++entry) {
        found.push_back(&_assignments[entry->second]);
    }
    std::sort(found.begin(), found.end(), [](auto left, auto right) { return left->co < right->co; });
    return found;
}

GroupAddressMapFile ParseGroupAddressMap(std::istream& input)
{
    GroupAddressMapFile file;
    std::vector<GroupAddressAssignment> assignments;
    std::map<int, int> lineOfCo;
    std::map<GroupAddress, std::pair<DatapointType, int>> inputOnAddress;  // type and line
    int lineNumber = 0;
    for (std::string line; std::getline(input, line);) {
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const auto equals = line.find('=');
        std::istringstream left(line.substr(0, equals));
        std::istringstream right(equals == std::string::npos ? "" : line.substr(equals + 1));
        std::string coText, addressText, typeText, extra;
        if (!(left >> coText) || (left >> extra) || !(right >> addressText >> typeText) || (right >> extra) ||
            coText.find_first_not_of("0123456789") != std::string::npos || coText.size() > 4) {
            file.errors.push_back(where + "expected '<co> = <group address> <datapoint type>'");
            continue;
        }
        const int co = std::stoi(coText);
        const auto kind = KindOfCommunicationObject(co);
        const auto address = ParseGroupAddress(addressText);
        const auto type = ParseDatapointType(typeText);
        if (!kind) {
            file.errors.push_back(where + "CO " + coText + " is not one of the gateway's objects");
        } else if (!address) {
            file.errors.push_back(where + "group address '" + addressText +
                                  "' out of range (0/0/1..31/7/255, 0/1..31/2047 or 1..65535)");
        } else if (!type) {
            file.errors.push_back(where + "unknown datapoint type '" + typeText + "'");
        } else if (BusValueIndexOf(*type) != BusValueIndexOf(kind->defaultType)) {
            file.errors.push_back(where + "datapoint type " + DatapointTypeName(*type) + " does not fit CO " + coText +
                                  ", whose values are those of " + DatapointTypeName(kind->defaultType));
        } else if (lineOfCo.count(co)) {
            file.errors.push_back(where + "CO " + coText + " is already assigned in line " +
                                  std::to_string(lineOfCo[co]));
        } else if (kind->direction == Direction::Input && inputOnAddress.count(*address) &&
                   inputOnAddress[*address].first != *type) {
            file.errors.push_back(where + "group address " + addressText + " is already an input of type " +
                                  DatapointTypeName(inputOnAddress[*address].first) + " in line " +
                                  std::to_string(inputOnAddress[*address].second));
        } else {
            lineOfCo[co] = lineNumber;
            if (kind->direction == Direction::Input) {
                inputOnAddress.emplace(*address, std::make_pair(*type, lineNumber));
            }
            assignments.push_back({co, *address, *type, kind->direction});
        }
    }
    file.map = GroupAddressMap(std::move(assignments));
    return file;
}

}  // namespace Oru::Knx
