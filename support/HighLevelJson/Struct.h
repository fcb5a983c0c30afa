// A typed layer between RapidJSON value trees and plain structures: each
// type parses into its value or into the place and reason where a document
// does not fit, and generates its value tree back.
//
// A structure S takes part by offering
//   static JsonParseResult<S>::type Parse(const rapidjson::Value::ConstObject&);
//   rapidjson::Value Generate(JsonAllocator&) const;   // an object
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <boost/optional.hpp>
#include <boost/variant.hpp>
#include <rapidjson/document.h>

#include "support/UTF8String.h"

namespace Oru {

using JsonAllocator = rapidjson::Document::AllocatorType;
using JsonObject = rapidjson::Value::ConstObject;

// The seven kinds of JSON value. Integers of every width are Int.
enum class JsonType { Object, Array, String, Bool, Int, Real, Null };

JsonType GetJsonType(const rapidjson::Value& value);
std::ostream& operator<<(std::ostream& stream, JsonType type);

struct InArray;
struct InObject;

struct JsonTypeMismatch {
    JsonType expected;
    JsonType found;
};

struct JsonObjectKeyMissing {
    std::string key;
};

struct IntegerOutOfRange {};

struct InvalidTextEncoding {};

// Where and why a document does not fit: a path of array and object steps
// ending in one of the four terminal errors.
using JsonMismatchLocation = boost::variant<boost::recursive_wrapper<InArray>, boost::recursive_wrapper<InObject>,
                                            JsonTypeMismatch, JsonObjectKeyMissing, IntegerOutOfRange,
                                            InvalidTextEncoding>;

struct InArray {
    unsigned int index;
    JsonMismatchLocation location;
};

struct InObject {
    std::string key;
    JsonMismatchLocation location;
};

bool operator==(const InArray& a, const InArray& b);
bool operator==(const InObject& a, const InObject& b);
bool operator==(const JsonTypeMismatch& a, const JsonTypeMismatch& b);
bool operator==(const JsonObjectKeyMissing& a, const JsonObjectKeyMissing& b);
bool operator==(const IntegerOutOfRange&, const IntegerOutOfRange&);
bool operator==(const InvalidTextEncoding&, const InvalidTextEncoding&);

// "[baseStations][1][index] -> Integer out of range"
std::ostream& operator<<(std::ostream& stream, const JsonMismatchLocation& location);

template <typename T>
struct JsonParseResult {
    using type = boost::variant<T, JsonMismatchLocation>;
};

// The mismatch of a failed result, nullptr on success.
template <typename T>
const JsonMismatchLocation* GetMismatch(const boost::variant<T, JsonMismatchLocation>& result)
{
    return boost::get<JsonMismatchLocation>(&result);
}

// Structures: the value must be an object, read by T::Parse.
template <typename T>
struct JsonParser {
    static typename JsonParseResult<T>::type Parse(const rapidjson::Value& value)
    {
        if (!value.IsObject()) {
            return JsonMismatchLocation(JsonTypeMismatch{JsonType::Object, GetJsonType(value)});
        }
        return T::Parse(value.GetObject());
    }
};

template <>
struct JsonParser<UTF8String> {
    static JsonParseResult<UTF8String>::type Parse(const rapidjson::Value& value);
};

// Integers 0..255; negative numbers are out of range.
template <>
struct JsonParser<unsigned char> {
    static JsonParseResult<unsigned char>::type Parse(const rapidjson::Value& value);
};

// Arrays of structures; the first element that fails stops the parse.
template <typename T>
struct JsonParser<std::vector<T>> {
    static typename JsonParseResult<std::vector<T>>::type Parse(const rapidjson::Value& value)
    {
        if (!value.IsArray()) {
            return JsonMismatchLocation(JsonTypeMismatch{JsonType::Array, GetJsonType(value)});
        }
        std::vector<T> elements;
        elements.reserve(value.Size());
        for (rapidjson::SizeType index = 0; index < value.Size(); ++index) {
            auto element = JsonParser<T>::Parse(value[index]);
            if (const auto* mismatch = GetMismatch(element)) {
                return JsonMismatchLocation(InArray{index, *mismatch});
            }
            elements.push_back(std::move(boost::get<T>(element)));
        }
        return elements;
    }
};

// A required member: the first member named key, in document order.
template <typename T>
struct StructElementParser {
    static typename JsonParseResult<T>::type ParseStructElement(const JsonObject& object, const char* key)
    {
        const auto member = object.FindMember(key);
        if (member == object.MemberEnd()) {
            return JsonMismatchLocation(JsonObjectKeyMissing{key});
        }
        auto result = JsonParser<T>::Parse(member->value);
        if (const auto* mismatch = GetMismatch(result)) {
            return JsonMismatchLocation(InObject{key, *mismatch});
        }
        return result;
    }
};

// An optional member: absent or null is an empty optional.
template <typename T>
struct StructElementParser<boost::optional<T>> {
    static typename JsonParseResult<boost::optional<T>>::type ParseStructElement(const JsonObject& object,
                                                                                 const char* key)
    {
        const auto member = object.FindMember(key);
        if (member == object.MemberEnd() || member->value.IsNull()) {
            return boost::optional<T>();
        }
        auto result = JsonParser<T>::Parse(member->value);
        if (const auto* mismatch = GetMismatch(result)) {
            return JsonMismatchLocation(InObject{key, *mismatch});
        }
        return boost::optional<T>(std::move(boost::get<T>(result)));
    }
};

// Generation appends members; it never replaces one.
void GenerateStructElement(rapidjson::Value& object, const char* key, const UTF8String& value,
                           JsonAllocator& allocator);
void GenerateStructElement(rapidjson::Value& object, const char* key, unsigned char value, JsonAllocator& allocator);
void GenerateStructElement(rapidjson::Value& object, const char* key, bool value, JsonAllocator& allocator);

// An absent optional member is left out.
template <typename T>
void GenerateStructElement(rapidjson::Value& object, const char* key, const boost::optional<T>& value,
                           JsonAllocator& allocator)
{
    if (value) {
        GenerateStructElement(object, key, *value, allocator);
    }
}

// One object per structure, in the order of the vector.
template <typename T>
rapidjson::Value GenerateJson(const std::vector<T>& structures, JsonAllocator& allocator)
{
    rapidjson::Value array(rapidjson::kArrayType);
    array.Reserve(static_cast<rapidjson::SizeType>(structures.size()), allocator);
    for (const auto& structure : structures) {
        array.PushBack(structure.Generate(allocator), allocator);
    }
    return array;
}

template <typename T>
void GenerateStructElement(rapidjson::Value& object, const char* key, const std::vector<T>& structures,
                           JsonAllocator& allocator)
{
    object.AddMember(rapidjson::Value(key, allocator), GenerateJson(structures, allocator), allocator);
}

}  // namespace Oru
