#include "Struct.h"

#include <cstdint>

#include "support/Assert.h"

namespace Oru {

JsonType GetJsonType(const rapidjson::Value& value)
{
    switch (value.GetType()) {
    case rapidjson::kObjectType:
        return JsonType::Object;
    case rapidjson::kArrayType:
        return JsonType::Array;
    case rapidjson::kStringType:
        return JsonType::String;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
        return JsonType::Bool;
    case rapidjson::kNumberType:
        return value.IsDouble() ? JsonType::Real : JsonType::Int;
    case rapidjson::kNullType:
        return JsonType::Null;
    }
    ORU_UNREACHABLE();
}

std::ostream& operator<<(std::ostream& stream, JsonType type)
{
    switch (type) {
    case JsonType::Object:
        return stream << "Object";
    case JsonType::Array:
        return stream << "Array";
    case JsonType::String:
        return stream << "String";
    case JsonType::Bool:
        return stream << "Bool";
    case JsonType::Int:
        return stream << "Int";
    case JsonType::Real:
        return stream << "Real";
    case JsonType::Null:
        return stream << "Null";
    }
    ORU_UNREACHABLE();
}

bool operator==(const InArray& a, const InArray& b) { return a.index == b.index && a.location == b.location; }
bool operator==(const InObject& a, const InObject& b) { return a.key == b.key && a.location == b.location; }
bool operator==(const JsonTypeMismatch& a, const JsonTypeMismatch& b)
{
    return a.expected == b.expected && a.found == b.found;
}
bool operator==(const JsonObjectKeyMissing& a, const JsonObjectKeyMissing& b) { return a.key == b.key; }
bool operator==(const IntegerOutOfRange&, const IntegerOutOfRange&) { return true; }
bool operator==(const InvalidTextEncoding&, const InvalidTextEncoding&) { return true; }

namespace {

class LocationPrinter : public boost::static_visitor<void> {
public:
    explicit LocationPrinter(std::ostream& stream) : _stream(stream) {}

    void operator()(const InArray& step) const
    {
        _stream << "[" << step.index << "]";
        boost::apply_visitor(*this, step.location);
    }
    void operator()(const InObject& step) const
    {
        _stream << "[" << step.key << "]";
        boost::apply_visitor(*this, step.location);
    }
    void operator()(const JsonTypeMismatch& error) const
    {
        _stream << " -> Expected type " << error.expected << ", found " << error.found;
    }
    void operator()(const JsonObjectKeyMissing& error) const
    {
        _stream << " -> Expected object key \"" << error.key << "\"";
    }
    void operator()(const IntegerOutOfRange&) const { _stream << " -> Integer out of range"; }
    void operator()(const InvalidTextEncoding&) const { _stream << " -> Invalid text encoding"; }

private:
    std::ostream& _stream;
};

}  // namespace

std::ostream& operator<<(std::ostream& stream, const JsonMismatchLocation& location)
{
    boost::apply_visitor(LocationPrinter(stream), location);
    return stream;
}

JsonParseResult<UTF8String>::type JsonParser<UTF8String>::Parse(const rapidjson::Value& value)
{
    if (!value.IsString()) {
        return JsonMismatchLocation(JsonTypeMismatch{JsonType::String, GetJsonType(value)});
    }
    auto text = UTF8String::Create(std::string(value.GetString(), value.GetStringLength()));
    if (!text) {
        return JsonMismatchLocation(InvalidTextEncoding{});
    }
    return *text;
}

JsonParseResult<unsigned char>::type JsonParser<unsigned char>::Parse(const rapidjson::Value& value)
{
    if (GetJsonType(value) != JsonType::Int) {
        return JsonMismatchLocation(JsonTypeMismatch{JsonType::Int, GetJsonType(value)});
    }
    if (!value.IsUint64() || value.GetUint64() > 255u) {
        return JsonMismatchLocation(IntegerOutOfRange{});
    }
    return static_cast<unsigned char>(value.GetUint64());
}

void GenerateStructElement(rapidjson::Value& object, const char* key, const UTF8String& value,
                           JsonAllocator& allocator)
{
    rapidjson::Value text(value.Get().data(), static_cast<rapidjson::SizeType>(value.size()), allocator);
    object.AddMember(rapidjson::Value(key, allocator), text, allocator);
}

void GenerateStructElement(rapidjson::Value& object, const char* key, unsigned char value, JsonAllocator& allocator)
{
    object.AddMember(rapidjson::Value(key, allocator), rapidjson::Value(static_cast<unsigned int>(value)), allocator);
}

void GenerateStructElement(rapidjson::Value& object, const char* key, bool value, JsonAllocator& allocator)
{
    object.AddMember(rapidjson::Value(key, allocator), rapidjson::Value(value), allocator);
}

}  // namespace Oru
