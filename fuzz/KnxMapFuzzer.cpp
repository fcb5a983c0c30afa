// The host's group address map file: every assignment read (also from a file
// with errors) must be written as a map file that reads back without an
// error to the same assignments.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/knx/DefaultGroupAddressMap.h"
#include "platform/knx/GroupAddressMap.h"

namespace {

using namespace Oru::Knx;

bool SameAssignment(const GroupAddressAssignment& left, const GroupAddressAssignment& right)
{
    return left.co == right.co && left.address == right.address && left.type == right.type &&
           left.direction == right.direction;
}

void Fail(const char* what, const std::string& text)
{
    std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    const auto file = ParseGroupAddressMap(input);
    const auto& assignments = file.map.Assignments();
    for (const auto& assignment : assignments) {
        const auto* found = file.map.Find(assignment.co);
        if (found == nullptr || !SameAssignment(*found, assignment)) {
            Fail("an assignment is not found by its CO", std::to_string(assignment.co));
        }
    }

    std::ostringstream written;
    WriteGroupAddressMap(written, file.map, [](int) { return std::string("object"); });
    std::istringstream again(written.str());
    const auto reread = ParseGroupAddressMap(again);
    if (!reread.errors.empty()) {
        Fail("a written map does not read back", reread.errors.front() + "\n" + written.str());
    }
    const auto& rereadAssignments = reread.map.Assignments();
    bool same = rereadAssignments.size() == assignments.size();
    for (std::size_t i = 0; same && i < assignments.size(); ++i) {
        same = SameAssignment(rereadAssignments[i], assignments[i]);
    }
    if (!same) {
        Fail("a written map reads back to other assignments", written.str());
    }
    return 0;
}
