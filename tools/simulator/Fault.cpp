#include "Fault.h"

#include <cstring>
#include <iterator>

#include "JsonText.h"

namespace Keldra {
namespace Simulation {

namespace {

using rapidjson::Value;

struct KindEntry {
    Fault::Kind kind;
    const char* name;
};

const KindEntry s_kinds[] = {
    {Fault::Kind::RefuseCredentials, "refuseCredentials"},
    {Fault::Kind::ResponseCode, "responseCode"},
    {Fault::Kind::WriteStatus, "writeStatus"},
    {Fault::Kind::HttpStatus, "httpStatus"},
    {Fault::Kind::MalformedJson, "malformedJson"},
    {Fault::Kind::TruncatedBody, "truncatedBody"},
    {Fault::Kind::TlsCut, "tlsCut"},
    {Fault::Kind::Delay, "delay"},
    {Fault::Kind::DropOnAccept, "dropOnAccept"},
    {Fault::Kind::DropAfterRequest, "dropAfterRequest"},
    {Fault::Kind::NoAnswer, "noAnswer"},
    {Fault::Kind::FirmwareVersion, "firmwareVersion"},
    {Fault::Kind::WrongShape, "wrongShape"},
    {Fault::Kind::ThirteenRooms, "thirteenRooms"},
    {Fault::Kind::Chunked, "chunked"},
    {Fault::Kind::LargeBody, "largeBody"},
};

constexpr unsigned s_maximumDelayMilliseconds = 600000;
constexpr int s_maximumPaddingBytes = 16 * 1024 * 1024;
constexpr std::size_t s_maximumTextLength = 1024;

bool Fail(std::string& error, const std::string& what)
{
    error = what;
    return false;
}

bool ReadInteger(const Value& object, const char* name, int minimum, int maximum, std::optional<int>& out,
                 std::string& error)
{
    const auto member = object.FindMember(name);
    if (member == object.MemberEnd()) {
        return true;
    }
    if (!member->value.IsInt() || member->value.GetInt() < minimum || member->value.GetInt() > maximum) {
        return Fail(error, std::string(name) + ": expected an integer from " + std::to_string(minimum) + " to " +
                               std::to_string(maximum));
    }
    out = member->value.GetInt();
    return true;
}

bool ReadText(const Value& object, const char* name, std::optional<std::string>& out, std::string& error)
{
    const auto member = object.FindMember(name);
    if (member == object.MemberEnd()) {
        return true;
    }
    if (!member->value.IsString() || member->value.GetStringLength() > s_maximumTextLength) {
        return Fail(error, std::string(name) + ": expected a string of at most " + std::to_string(s_maximumTextLength) +
                               " bytes");
    }
    out = std::string(member->value.GetString(), member->value.GetStringLength());
    return true;
}

// Which members besides "kind", "path" and "count" a kind takes.
bool MemberAllowed(Fault::Kind kind, const char* name)
{
    const auto is = [name](const char* other) { return std::strcmp(name, other) == 0; };
    if (is("kind") || is("count")) {
        return true;
    }
    if (is("path")) {
        return kind != Fault::Kind::DropOnAccept;
    }
    switch (kind) {
    case Fault::Kind::ResponseCode:
    case Fault::Kind::WriteStatus:
    case Fault::Kind::HttpStatus:
    case Fault::Kind::FirmwareVersion:
        return is("value");
    case Fault::Kind::Delay:
        return is("milliseconds");
    case Fault::Kind::LargeBody:
        return is("bytes");
    case Fault::Kind::WrongShape:
        return is("member") || is("value") || is("remove");
    default:
        return false;
    }
}

}  // namespace

const char* Fault::KindName(Kind kind)
{
    for (const KindEntry& entry : s_kinds) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "?";
}

bool Fault::Concerns(const std::string& requestPath) const
{
    return requestPath.compare(0, path.size(), path) == 0;
}

std::optional<Fault> Fault::Parse(const std::string& text, std::string& error)
{
    rapidjson::Document document;
    if (!ParseJson(text, document, error)) {
        return std::nullopt;
    }
    if (!document.IsObject()) {
        Fail(error, "expected an object such as {\"kind\": \"delay\", \"milliseconds\": 500}");
        return std::nullopt;
    }
    const auto kindMember = document.FindMember("kind");
    if (kindMember == document.MemberEnd() || !kindMember->value.IsString()) {
        Fail(error, "kind: missing, expected one of the fault kinds");
        return std::nullopt;
    }
    Fault fault;
    bool knownKind = false;
    std::string kinds;
    for (const KindEntry& entry : s_kinds) {
        if (std::strcmp(kindMember->value.GetString(), entry.name) == 0) {
            fault.kind = entry.kind;
            knownKind = true;
        }
        kinds += kinds.empty() ? "" : ", ";
        kinds += entry.name;
    }
    if (!knownKind) {
        Fail(error, "kind: unknown kind " + JsonQuoted(kindMember->value.GetString()) + ", expected one of " + kinds);
        return std::nullopt;
    }
    for (auto member = document.MemberBegin(); member != document.MemberEnd(); ++member) {
        if (!MemberAllowed(fault.kind, member->name.GetString())) {
            Fail(error, std::string("member ") + JsonQuoted(member->name.GetString()) + " does not apply to kind " +
                            KindName(fault.kind));
            return std::nullopt;
        }
    }

    std::optional<std::string> path;
    std::optional<int> count;
    if (!ReadText(document, "path", path, error) || !ReadInteger(document, "count", 1, 1000000, count, error)) {
        return std::nullopt;
    }
    if (path && (path->empty() || (*path)[0] != '/')) {
        Fail(error, "path: expected a path starting with \"/\", such as \"/api/v1/status\"");
        return std::nullopt;
    }
    fault.path = path.value_or("");
    if (count) {
        fault.remaining = static_cast<unsigned>(*count);
    }

    std::optional<int> number;
    switch (fault.kind) {
    case Kind::ResponseCode:
    case Kind::WriteStatus:
    case Kind::HttpStatus: {
        const bool http = fault.kind == Kind::HttpStatus;
        if (!ReadInteger(document, "value", http ? 200 : -1000000, http ? 599 : 1000000, number, error)) {
            return std::nullopt;
        }
        if (!number) {
            Fail(error, "value: missing");
            return std::nullopt;
        }
        fault.value = *number;
        break;
    }
    case Kind::Delay:
        if (!ReadInteger(document, "milliseconds", 0, static_cast<int>(s_maximumDelayMilliseconds), number, error)) {
            return std::nullopt;
        }
        if (!number) {
            Fail(error, "milliseconds: missing");
            return std::nullopt;
        }
        fault.milliseconds = static_cast<unsigned>(*number);
        break;
    case Kind::LargeBody:
        if (!ReadInteger(document, "bytes", 1, s_maximumPaddingBytes, number, error)) {
            return std::nullopt;
        }
        fault.bytes = static_cast<unsigned>(number.value_or(static_cast<int>(fault.bytes)));
        break;
    case Kind::FirmwareVersion: {
        const auto value = document.FindMember("value");
        if (value == document.MemberEnd()) {
            fault.firmwareVersion = std::string("1.3.9");
        } else if (!value->value.IsNull() && !ReadText(document, "value", fault.firmwareVersion, error)) {
            return std::nullopt;
        }
        break;
    }
    case Kind::WrongShape: {
        std::optional<std::string> member;
        if (!ReadText(document, "member", member, error)) {
            return std::nullopt;
        }
        if (member) {
            if (member->empty()) {
                Fail(error, "member: expected a dotted path such as \"rooms\" or \"rooms.0.thermostat.id\"");
                return std::nullopt;
            }
            fault.member = *member;
        }
        const auto value = document.FindMember("value");
        if (value != document.MemberEnd()) {
            fault.replacement = JsonToText(value->value);
        }
        const auto remove = document.FindMember("remove");
        if (remove != document.MemberEnd()) {
            if (!remove->value.IsBool()) {
                Fail(error, "remove: expected true or false");
                return std::nullopt;
            }
            fault.remove = remove->value.GetBool();
        }
        break;
    }
    default:
        break;
    }
    return fault;
}

void Fault::ToJson(rapidjson::Value& out, rapidjson::Document::AllocatorType& allocator) const
{
    out.SetObject();
    out.AddMember("kind", rapidjson::StringRef(KindName(kind)), allocator);
    if (!path.empty()) {
        out.AddMember("path", Value(path.c_str(), allocator), allocator);
    }
    if (remaining) {
        out.AddMember("count", *remaining, allocator);
    }
    switch (kind) {
    case Kind::ResponseCode:
    case Kind::WriteStatus:
    case Kind::HttpStatus:
        out.AddMember("value", value, allocator);
        break;
    case Kind::Delay:
        out.AddMember("milliseconds", milliseconds, allocator);
        break;
    case Kind::LargeBody:
        out.AddMember("bytes", bytes, allocator);
        break;
    case Kind::FirmwareVersion:
        if (firmwareVersion) {
            out.AddMember("value", Value(firmwareVersion->c_str(), allocator), allocator);
        } else {
            out.AddMember("value", Value(rapidjson::kNullType), allocator);
        }
        break;
    case Kind::WrongShape: {
        out.AddMember("member", Value(member.c_str(), allocator), allocator);
        rapidjson::Document replacementValue;
        std::string ignored;
        if (ParseJson(replacement, replacementValue, ignored)) {
            out.AddMember("value", Value(replacementValue, allocator), allocator);
        }
        out.AddMember("remove", remove, allocator);
        break;
    }
    default:
        break;
    }
}

}  // namespace Simulation
}  // namespace Keldra
