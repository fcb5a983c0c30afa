// The script and style of the page's live view, served by the host itself.
#pragma once

#include <string>

namespace Oru {

const std::string& LiveViewScript();
const std::string& LiveViewStyle();

}  // namespace Oru
