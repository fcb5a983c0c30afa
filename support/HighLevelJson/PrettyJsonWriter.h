// Writes a JSON value tree as pretty-printed text: four spaces of indentation
// per level, " : " between key and value, each member and array element on
// its own line, no line feed after the last closing bracket. Strings are
// escaped as JSON requires; UTF-8 text is written as it is.
#pragma once

#include <string>

#include <rapidjson/document.h>

namespace Oru {

// Recursive over the value's nesting: for trees the program builds, not for
// documents read from outside. Reals must be finite.
std::string WritePrettyJson(const rapidjson::Value& value);

}  // namespace Oru
