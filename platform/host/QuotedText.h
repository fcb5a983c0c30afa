// Text in double quotes with backslash escapes, as the host's parameter file
// and bus console write values that need exact bytes: \" \\ \n \r \t \xHH.
#pragma once

#include <string>

#include <boost/optional.hpp>

namespace Oru {

// The text between the quotes of `quoted`, which must begin and end with a
// double quote and hold nothing after the closing one; empty when it is not
// well formed (the reason in *error when given).
boost::optional<std::string> Unquote(const std::string& quoted, std::string* error = nullptr);

// `text` in double quotes, every byte outside printable ASCII escaped, so
// that the output shows exactly what the text holds.
std::string Quote(const std::string& text);

}  // namespace Oru
