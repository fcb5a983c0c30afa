// Compares two JSON texts as values, numbers within a relative 1e-12:
// RapidJSON's number parsing may land one unit in the last place away from
// the nearest double, so a number written out and read back can differ by
// that much without anything being wrong. (Its full-precision parsing is no
// way out: it passes zero to clz() on inputs such as "0E47".)
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

#include <rapidjson/document.h>

namespace Keldra {
namespace Fuzzing {

inline bool SameJson(const rapidjson::Value& a, const rapidjson::Value& b)
{
    if (a.IsNumber() && b.IsNumber()) {
        const double x = a.GetDouble(), y = b.GetDouble();
        return x == y || std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), std::fabs(y));
    }
    if (a.GetType() != b.GetType()) {
        return false;
    }
    if (a.IsArray()) {
        if (a.Size() != b.Size()) {
            return false;
        }
        for (rapidjson::SizeType index = 0; index < a.Size(); ++index) {
            if (!SameJson(a[index], b[index])) {
                return false;
            }
        }
        return true;
    }
    if (a.IsObject()) {
        if (a.MemberCount() != b.MemberCount()) {
            return false;
        }
        for (auto member = a.MemberBegin(); member != a.MemberEnd(); ++member) {
            const auto other = b.FindMember(member->name);
            if (other == b.MemberEnd() || !SameJson(member->value, other->value)) {
                return false;
            }
        }
        return true;
    }
    return a == b;
}

inline bool SameJson(const std::string& a, const std::string& b)
{
    rapidjson::Document first, second;
    first.Parse(a.c_str(), a.size());
    second.Parse(b.c_str(), b.size());
    return !first.HasParseError() && !second.HasParseError() && SameJson(first, second);
}

}  // namespace Fuzzing
}  // namespace Keldra
