#include "JsonText.h"

#include <iterator>

#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <utf8.h>

namespace Keldra {
namespace Simulation {

namespace {

// The deepest nesting of arrays and objects in the text, strings skipped.
int NestingDepth(const std::string& text)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char character : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (character == '\\') {
                escaped = true;
            } else if (character == '"') {
                inString = false;
            }
        } else if (character == '"') {
            inString = true;
        } else if (character == '[' || character == '{') {
            ++depth;
            if (depth > deepest) {
                deepest = depth;
            }
        } else if (character == ']' || character == '}') {
            --depth;
        }
    }
    return deepest;
}

// RapidJSON's encoding check sees the raw text only: an unpaired low
// surrogate escape (\uDC00 to \uDFFF) decodes into bytes that are not
// UTF-8, which, written out, would not read again.
bool AllTextIsUtf8(const rapidjson::Value& value)
{
    if (value.IsString()) {
        return utf8::is_valid(value.GetString(), value.GetString() + value.GetStringLength());
    }
    if (value.IsArray()) {
        for (const auto& element : value.GetArray()) {
            if (!AllTextIsUtf8(element)) {
                return false;
            }
        }
    }
    if (value.IsObject()) {
        for (const auto& member : value.GetObject()) {
            if (!AllTextIsUtf8(member.name) || !AllTextIsUtf8(member.value)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool ParseJson(const std::string& text, rapidjson::Document& document, std::string& error)
{
    if (NestingDepth(text) > s_maximumJsonNesting) {
        error = "JSON nested deeper than " + std::to_string(s_maximumJsonNesting) + " levels";
        return false;
    }
    document.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
    if (document.HasParseError()) {
        error = "not valid JSON at offset " + std::to_string(document.GetErrorOffset()) + ": " +
                rapidjson::GetParseError_En(document.GetParseError());
        return false;
    }
    if (!AllTextIsUtf8(document)) {
        error = "a string is not valid UTF-8 once unescaped (an unpaired \\uDC00-\\uDFFF escape?)";
        return false;
    }
    return true;
}

std::string JsonToText(const rapidjson::Value& value, bool pretty)
{
    rapidjson::StringBuffer buffer;
    if (pretty) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        value.Accept(writer);
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        value.Accept(writer);
    }
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ValidUtf8(const std::string& text)
{
    if (utf8::is_valid(text.begin(), text.end())) {
        return text;
    }
    std::string valid;
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid), '?');
    return valid;
}

std::string JsonQuoted(const std::string& text)
{
    rapidjson::Value value(rapidjson::StringRef(text.data(), text.size()));
    return JsonToText(value);
}

}  // namespace Simulation
}  // namespace Keldra
