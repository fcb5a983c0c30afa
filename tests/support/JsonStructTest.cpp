#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "support/HighLevelJson/PrettyJsonWriter.h"
#include "support/HighLevelJson/Struct.h"

using namespace Oru;

namespace {

// A structure with one required and one optional member, and a list of them.
struct Entry {
    unsigned char index;
    boost::optional<UTF8String> username;

    static JsonParseResult<Entry>::type Parse(const JsonObject& object)
    {
        const auto index = StructElementParser<unsigned char>::ParseStructElement(object, "index");
        const auto username = StructElementParser<boost::optional<UTF8String>>::ParseStructElement(object, "username");
        if (const auto* mismatch = GetMismatch(index) ? GetMismatch(index) : GetMismatch(username)) {
            return *mismatch;
        }
        return Entry{boost::get<unsigned char>(index), boost::get<boost::optional<UTF8String>>(username)};
    }

    rapidjson::Value Generate(JsonAllocator& allocator) const
    {
        rapidjson::Value object(rapidjson::kObjectType);
        GenerateStructElement(object, "index", index, allocator);
        GenerateStructElement(object, "username", username, allocator);
        return object;
    }
};

rapidjson::Document ParseText(const std::string& text)
{
    rapidjson::Document document;
    document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    EXPECT_FALSE(document.HasParseError()) << text;
    return document;
}

std::ostream& operator<<(std::ostream& stream, const Entry& entry)
{
    return stream << "(" << +entry.index << (entry.username ? " " + entry.username->Get() : "") << ")";
}

std::ostream& operator<<(std::ostream& stream, const std::vector<Entry>& entries)
{
    for (const auto& entry : entries) {
        stream << entry;
    }
    return stream;
}

// The parsed value, or where and why the document does not fit.
template <typename T>
std::string Outcome(const std::string& json)
{
    const auto result = JsonParser<T>::Parse(ParseText(json));
    std::ostringstream text;
    GetMismatch(result) ? text << *GetMismatch(result) : text << boost::get<T>(result);
    return text.str();
}

TEST(Struct, ParsesAnEntryOrAListOrPrintsWhereTheyDoNotFit)
{
    const std::pair<std::string, std::string> cases[] = {
        {R"({"index": 3, "username": null})", "(3)"},
        {R"({"username": "Zo\u00eb", "index": 0, "extra": [1, {}]})", "(0 Zo\xC3\xAB)"},
        {R"({"index": 255})", "(255)"},
        {R"({"index": 1, "index": 2, "username": "a", "username": 7})", "(1 a)"},
        {R"({"index": 300, "index": 2})", "[index] -> Integer out of range"},
        {R"({"index": 3, "username": 5})", "[username] -> Expected type String, found Int"},
        {R"({"index": 256})", "[index] -> Integer out of range"},
        {R"({"index": -1})", "[index] -> Integer out of range"},
        {R"({"index": 18446744073709551615})", "[index] -> Integer out of range"},
        {R"({"index": 18446744073709551616})", "[index] -> Expected type Int, found Real"},
        {R"({"index": 1.0})", "[index] -> Expected type Int, found Real"},
        {R"({"index": "3"})", "[index] -> Expected type Int, found String"},
        {R"({"index": true})", "[index] -> Expected type Int, found Bool"},
        {R"({"index": null})", "[index] -> Expected type Int, found Null"},
        {R"({"Index": 1, "username": "a"})", " -> Expected object key \"index\""},
        {R"({"username": 5, "index": 256})", "[index] -> Integer out of range"},
        {R"([{"index": 1}])", " -> Expected type Object, found Array"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Outcome<Entry>(c.first)) << c.first;
    }
    // A list: the path to the first element that does not fit.
    const std::pair<std::string, std::string> lists[] = {
        {R"([])", ""},
        {R"([{"index": 4}, {"index": 0}, {"index": 4}])", "(4)(0)(4)"},
        {R"([{"index": 0}, {"index": 300}, {"index": "x"}])", "[1][index] -> Integer out of range"},
        {R"([{"index": 0}, 5])", "[1] -> Expected type Object, found Int"},
        {R"([{}])", "[0] -> Expected object key \"index\""},
        {"[{\"index\": 1, \"username\": \"\xFF\"}]", "[0][username] -> Invalid text encoding"},
        {R"({"index": 1})", " -> Expected type Array, found Object"},
    };
    for (const auto& c : lists) {
        EXPECT_EQ(c.second, Outcome<std::vector<Entry>>(c.first)) << c.first;
    }
}

TEST(Struct, GenerationLeavesAbsentMembersOutAppendsAndParsesBack)
{
    rapidjson::Document document;
    document.SetObject();
    const std::vector<Entry> entries = {{7, boost::none}, {255, UTF8String::Create("a\"b\\c\n\x01")}};
    GenerateStructElement(document, "entries", entries, document.GetAllocator());
    GenerateStructElement(document, "flag", true, document.GetAllocator());
    GenerateStructElement(document, "flag", *UTF8String::Create("again"), document.GetAllocator());
    rapidjson::StringBuffer compact;
    rapidjson::Writer<rapidjson::StringBuffer> writer(compact);
    document.Accept(writer);
    EXPECT_EQ(R"({"entries":[{"index":7},{"index":255,"username":"a\"b\\c\n\u0001"}],"flag":true,"flag":"again"})",
              std::string(compact.GetString()));
    EXPECT_EQ("(7)(255 a\"b\\c\n\x01)", Outcome<std::vector<Entry>>(WritePrettyJson(document["entries"])));
}

TEST(PrettyJsonWriter, LaysOutOneMemberOrElementPerLine)
{
    EXPECT_EQ("{\n"
              "    \"list\" : [\n"
              "        {\n"
              "            \"index\" : 2,\n"
              "            \"on\" : true\n"
              "        },\n"
              "        -3,\n"
              "        0.5,\n"
              "        null\n"
              "    ],\n"
              "    \"empty\" : [\n"
              "    ],\n"
              "    \"nothing\" : {\n"
              "    }\n"
              "}",
              WritePrettyJson(
                  ParseText(R"({"list": [{"index": 2, "on": true}, -3, 0.5, null], "empty": [], "nothing": {}})")));
}

}  // namespace
