#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "support/HighLevelJson/PrettyJsonWriter.h"
#include "support/HighLevelJson/Struct.h"

using namespace Oru;

namespace {

// A structure with one required and one optional member.
struct Entry {
    unsigned char index;
    boost::optional<UTF8String> username;

    static JsonParseResult<Entry>::type Parse(const JsonObject& object)
    {
        auto parsedIndex = StructElementParser<unsigned char>::ParseStructElement(object, "index");
        if (const auto* mismatch = GetMismatch(parsedIndex)) {
            return *mismatch;
        }
        auto parsedUsername = StructElementParser<boost::optional<UTF8String>>::ParseStructElement(object, "username");
        if (const auto* mismatch = GetMismatch(parsedUsername)) {
            return *mismatch;
        }
        return Entry{boost::get<unsigned char>(parsedIndex), boost::get<boost::optional<UTF8String>>(parsedUsername)};
    }

    rapidjson::Value Generate(JsonAllocator& allocator) const
    {
        rapidjson::Value object(rapidjson::kObjectType);
        GenerateStructElement(object, "index", index, allocator);
        GenerateStructElement(object, "username", username, allocator);
        return object;
    }
};

struct EntryList {
    std::vector<Entry> entries;

    static JsonParseResult<EntryList>::type Parse(const JsonObject& object)
    {
        auto parsed = StructElementParser<std::vector<Entry>>::ParseStructElement(object, "entries");
        if (const auto* mismatch = GetMismatch(parsed)) {
            return *mismatch;
        }
        return EntryList{std::move(boost::get<std::vector<Entry>>(parsed))};
    }
};

rapidjson::Document ParseText(const std::string& text)
{
    rapidjson::Document document;
    document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    EXPECT_FALSE(document.HasParseError()) << text;
    return document;
}

template <typename T>
std::string PrintedMismatch(const typename JsonParseResult<T>::type& result)
{
    const auto* mismatch = GetMismatch(result);
    if (mismatch == nullptr) {
        return "(parsed)";
    }
    std::ostringstream text;
    text << *mismatch;
    return text.str();
}

std::string Compact(const rapidjson::Value& value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

UTF8String Utf8(const std::string& bytes) { return *UTF8String::Create(bytes); }

struct EntryCase {
    const char* name;
    std::string json;
    // Empty when the entry parses.
    std::string mismatch;
    unsigned char index;
    boost::optional<std::string> username;
};

class EntryParsing : public testing::TestWithParam<EntryCase> {};

TEST_P(EntryParsing, YieldsTheEntryOrThePrintedLocation)
{
    const auto& testCase = GetParam();
    const auto document = ParseText(testCase.json);
    const auto result = JsonParser<Entry>::Parse(document);
    if (!testCase.mismatch.empty()) {
        EXPECT_EQ(testCase.mismatch, PrintedMismatch<Entry>(result));
        return;
    }
    ASSERT_EQ(nullptr, GetMismatch(result)) << PrintedMismatch<Entry>(result);
    const auto& entry = boost::get<Entry>(result);
    EXPECT_EQ(testCase.index, entry.index);
    ASSERT_EQ(testCase.username.has_value(), entry.username.has_value());
    if (testCase.username) {
        EXPECT_EQ(*testCase.username, entry.username->Get());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Struct, EntryParsing,
    testing::Values(
        EntryCase{"RequiredOnly", R"({"index": 3})", "", 3, boost::none},
        EntryCase{"OptionalNullIsAbsent", R"({"index": 3, "username": null})", "", 3, boost::none},
        EntryCase{"OptionalPresent", R"({"username": "Zo\u00eb", "index": 0})", "", 0, std::string("Zo\xC3\xAB")},
        EntryCase{"OtherMembersIgnored", R"({"index": 1, "extra": [1, {}]})", "", 1, boost::none},
        EntryCase{"OptionalOfWrongType", R"({"index": 3, "username": 5})",
                  "[username] -> Expected type String, found Int", 0, boost::none},
        EntryCase{"OptionalObject", R"({"index": 3, "username": {}})",
                  "[username] -> Expected type String, found Object", 0, boost::none},
        EntryCase{"InvalidUtf8", "{\"index\": 3, \"username\": \"\xC3\x28\"}",
                  "[username] -> Invalid text encoding", 0, boost::none},
        EntryCase{"Utf8Surrogate", "{\"index\": 3, \"username\": \"\xED\xA0\x80\"}",
                  "[username] -> Invalid text encoding", 0, boost::none},
        EntryCase{"Index0", R"({"index": 0})", "", 0, boost::none},
        EntryCase{"Index255", R"({"index": 255})", "", 255, boost::none},
        EntryCase{"Index256", R"({"index": 256})", "[index] -> Integer out of range", 0, boost::none},
        EntryCase{"IndexMinus1", R"({"index": -1})", "[index] -> Integer out of range", 0, boost::none},
        EntryCase{"IndexLargestUnsigned", R"({"index": 18446744073709551615})", "[index] -> Integer out of range", 0,
                  boost::none},
        EntryCase{"IndexReal", R"({"index": 1.0})", "[index] -> Expected type Int, found Real", 0, boost::none},
        EntryCase{"IndexBeyond64Bits", R"({"index": 18446744073709551616})",
                  "[index] -> Expected type Int, found Real", 0, boost::none},
        EntryCase{"IndexString", R"({"index": "3"})", "[index] -> Expected type Int, found String", 0, boost::none},
        EntryCase{"IndexNull", R"({"index": null})", "[index] -> Expected type Int, found Null", 0, boost::none},
        EntryCase{"IndexMissing", R"({"username": "a"})", " -> Expected object key \"index\"", 0, boost::none},
        EntryCase{"KeyIsCaseSensitive", R"({"Index": 1})", " -> Expected object key \"index\"", 0, boost::none},
        EntryCase{"FirstDuplicateWins", R"({"index": 1, "index": 2, "username": "a", "username": 7})", "", 1,
                  std::string("a")},
        EntryCase{"FirstDuplicateFails", R"({"index": 300, "index": 2})", "[index] -> Integer out of range", 0,
                  boost::none},
        EntryCase{"RequiredMemberFailsFirst", R"({"username": 5, "index": 256})", "[index] -> Integer out of range",
                  0, boost::none},
        EntryCase{"NotAnObject", R"([{"index": 1}])", " -> Expected type Object, found Array", 0, boost::none},
        EntryCase{"Scalar", R"("index")", " -> Expected type Object, found String", 0, boost::none}),
    [](const testing::TestParamInfo<EntryCase>& caseInfo) { return std::string(caseInfo.param.name); });

struct ListCase {
    const char* name;
    std::string json;
    std::string mismatch;
    std::vector<unsigned char> indexes;
};

class ListParsing : public testing::TestWithParam<ListCase> {};

TEST_P(ListParsing, YieldsTheEntriesOrThePrintedLocation)
{
    const auto& testCase = GetParam();
    const auto document = ParseText(testCase.json);
    const auto result = JsonParser<EntryList>::Parse(document);
    if (!testCase.mismatch.empty()) {
        EXPECT_EQ(testCase.mismatch, PrintedMismatch<EntryList>(result));
        return;
    }
    ASSERT_EQ(nullptr, GetMismatch(result)) << PrintedMismatch<EntryList>(result);
    std::vector<unsigned char> indexes;
    for (const auto& entry : boost::get<EntryList>(result).entries) {
        indexes.push_back(entry.index);
    }
    EXPECT_EQ(testCase.indexes, indexes);
}

INSTANTIATE_TEST_SUITE_P(
    Struct, ListParsing,
    testing::Values(
        ListCase{"EmptyArray", R"({"entries": []})", "", {}},
        ListCase{"DocumentOrder", R"({"entries": [{"index": 4}, {"index": 0}, {"index": 4}]})", "", {4, 0, 4}},
        ListCase{"SecondElementOutOfRange", R"({"entries": [{"index": 0}, {"index": 300}]})",
                 "[entries][1][index] -> Integer out of range", {}},
        ListCase{"FirstFailureStops", R"({"entries": [{"index": 0}, {"index": 300}, {"index": "x"}]})",
                 "[entries][1][index] -> Integer out of range", {}},
        ListCase{"ElementNotAnObject", R"({"entries": [{"index": 0}, 5]})",
                 "[entries][1] -> Expected type Object, found Int", {}},
        ListCase{"NestedArrayElement", R"({"entries": [[[[]]]]})", "[entries][0] -> Expected type Object, found Array",
                 {}},
        ListCase{"ElementMissingKey", R"({"entries": [{}]})", "[entries][0] -> Expected object key \"index\"", {}},
        ListCase{"ElementBadUsername", "{\"entries\": [{\"index\": 1, \"username\": \"\xFF\"}]}",
                 "[entries][0][username] -> Invalid text encoding", {}},
        ListCase{"NotAnArray", R"({"entries": {"index": 1}})", "[entries] -> Expected type Array, found Object", {}},
        ListCase{"NullList", R"({"entries": null})", "[entries] -> Expected type Array, found Null", {}},
        ListCase{"MissingList", R"({"other": []})", " -> Expected object key \"entries\"", {}}),
    [](const testing::TestParamInfo<ListCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST(Struct, MismatchIsAPathOfStepsEndingInOneError)
{
    const auto document = ParseText(R"({"entries": [{"index": 1}, {"index": 2, "username": 5}]})");
    const auto result = JsonParser<EntryList>::Parse(document);
    const JsonMismatchLocation expected =
        InObject{"entries", InArray{1, InObject{"username", JsonTypeMismatch{JsonType::String, JsonType::Int}}}};
    ASSERT_NE(nullptr, GetMismatch(result));
    EXPECT_TRUE(*GetMismatch(result) == expected);
}

TEST(Struct, TypeNamesPrint)
{
    const std::vector<std::pair<JsonType, std::string>> names = {
        {JsonType::Object, "Object"}, {JsonType::Array, "Array"}, {JsonType::String, "String"},
        {JsonType::Bool, "Bool"},     {JsonType::Int, "Int"},     {JsonType::Real, "Real"},
        {JsonType::Null, "Null"}};
    for (const auto& name : names) {
        std::ostringstream text;
        text << name.first;
        EXPECT_EQ(name.second, text.str());
    }
}

TEST(Struct, TypeOfEachKindOfValue)
{
    const auto document = ParseText(R"([{}, [], "", true, false, 1, -1, 18446744073709551615, 0.5, 1e3, null])");
    const std::vector<JsonType> expected = {JsonType::Object, JsonType::Array, JsonType::String, JsonType::Bool,
                                            JsonType::Bool,   JsonType::Int,   JsonType::Int,    JsonType::Int,
                                            JsonType::Real,   JsonType::Real,  JsonType::Null};
    ASSERT_EQ(expected.size(), document.Size());
    for (rapidjson::SizeType i = 0; i < document.Size(); ++i) {
        EXPECT_EQ(expected[i], GetJsonType(document[i])) << i;
    }
}

TEST(StructDeathTest, PrintingAnUnknownTypeIsFatal)
{
    std::ostringstream text;
    EXPECT_DEATH(text << static_cast<JsonType>(42),
                 "This statement should not be executed. There is a bug somewhere around Struct:");
}

TEST(Struct, GenerationLeavesAbsentOptionalMembersOut)
{
    rapidjson::Document document;
    const std::vector<Entry> entries = {{7, boost::none}, {2, Utf8("admin")}};
    const auto array = GenerateJson(entries, document.GetAllocator());
    EXPECT_EQ(R"([{"index":7},{"index":2,"username":"admin"}])", Compact(array));
}

TEST(Struct, GenerationAppendsAndNeverReplaces)
{
    rapidjson::Document document;
    rapidjson::Value object(rapidjson::kObjectType);
    GenerateStructElement(object, "name", Utf8("first"), document.GetAllocator());
    GenerateStructElement(object, "name", Utf8("second"), document.GetAllocator());
    GenerateStructElement(object, "flag", true, document.GetAllocator());
    GenerateStructElement(object, "list", std::vector<Entry>{}, document.GetAllocator());
    EXPECT_EQ(R"({"name":"first","name":"second","flag":true,"list":[]})", Compact(object));
}

TEST(Struct, GeneratedEntriesParseBack)
{
    rapidjson::Document document;
    document.SetObject();
    const std::vector<Entry> entries = {{0, Utf8("a\"b\\c\n\x01")}, {255, boost::none}};
    GenerateStructElement(document, "entries", entries, document.GetAllocator());
    const auto reread = ParseText(WritePrettyJson(document));
    const auto result = JsonParser<EntryList>::Parse(reread);
    ASSERT_EQ(nullptr, GetMismatch(result));
    const auto& parsed = boost::get<EntryList>(result).entries;
    ASSERT_EQ(2u, parsed.size());
    EXPECT_EQ(0, parsed[0].index);
    EXPECT_TRUE(entries[0].username == parsed[0].username);
    EXPECT_EQ(255, parsed[1].index);
    EXPECT_FALSE(parsed[1].username);
}

TEST(PrettyJsonWriter, LaysOutOneMemberOrElementPerLine)
{
    const auto document = ParseText(
        R"({"baseStations": [{"index": 0}, {"index": 2, "username": "admin", "credentials": "c2VjcmV0"}],
            "empty": [], "nothing": {}, "flags": [true, null, -3, 0.5]})");
    EXPECT_EQ("{\n"
              "    \"baseStations\" : [\n"
              "        {\n"
              "            \"index\" : 0\n"
              "        },\n"
              "        {\n"
              "            \"index\" : 2,\n"
              "            \"username\" : \"admin\",\n"
              "            \"credentials\" : \"c2VjcmV0\"\n"
              "        }\n"
              "    ],\n"
              "    \"empty\" : [\n"
              "    ],\n"
              "    \"nothing\" : {\n"
              "    },\n"
              "    \"flags\" : [\n"
              "        true,\n"
              "        null,\n"
              "        -3,\n"
              "        0.5\n"
              "    ]\n"
              "}",
              WritePrettyJson(document));
}

TEST(PrettyJsonWriter, EscapesWhatJsonRequiresAndKeepsUtf8)
{
    rapidjson::Document document;
    const std::string text = std::string("q\"b\\s/\b\f\n\r\t") + '\x01' + '\x1f' + "\xC3\xAB\xF0\x9F\x94\xA5";
    document.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), document.GetAllocator());
    const auto written = WritePrettyJson(document);
    EXPECT_EQ("\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001F\xC3\xAB\xF0\x9F\x94\xA5\"", written);
    const auto reread = ParseText(written);
    EXPECT_EQ(text, std::string(reread.GetString(), reread.GetStringLength()));
}

TEST(PrettyJsonWriter, KeepsEmbeddedNulCharacters)
{
    rapidjson::Document document;
    const std::string text("a\0b", 3);
    document.SetString(text.data(), 3, document.GetAllocator());
    const auto written = WritePrettyJson(document);
    EXPECT_EQ("\"a\\u0000b\"", written);
    const auto reread = ParseText(written);
    EXPECT_EQ(text, std::string(reread.GetString(), reread.GetStringLength()));
}

}  // namespace
