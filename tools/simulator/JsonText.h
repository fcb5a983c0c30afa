// Reading JSON text from untrusted sources and writing it back, with
// RapidJSON: nesting is bounded before parsing and errors come back as text.
#pragma once

#include <string>

#include <rapidjson/document.h>

namespace Keldra {
namespace Simulation {

// Arrays and objects nested deeper than this are refused.
constexpr int s_maximumJsonNesting = 32;

// Parses text into document; on failure returns false and says why in error.
bool ParseJson(const std::string& text, rapidjson::Document& document, std::string& error);

std::string JsonToText(const rapidjson::Value& value, bool pretty = false);

// The text with every byte that is not part of valid UTF-8 replaced by
// "?", so that what a client sent can be shown in JSON.
std::string ValidUtf8(const std::string& text);

// A JSON string of the text (quoted and escaped), for error messages.
std::string JsonQuoted(const std::string& text);

}  // namespace Simulation
}  // namespace Keldra
