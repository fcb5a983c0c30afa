#include "PrettyJsonWriter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "support/Assert.h"

namespace Oru {
namespace {

class PrettyJsonWriter {
public:
    std::string Write(const rapidjson::Value& value)
    {
        WriteValue(value, 0);
        return std::move(_text);
    }

private:
    void WriteValue(const rapidjson::Value& value, unsigned int level)
    {
        if (value.IsObject()) {
            _text += '{';
            NewLine();
            const auto object = value.GetObject();
            for (auto member = object.MemberBegin(); member != object.MemberEnd(); ++member) {
                Indent(level + 1);
                WriteScalar(member->name);
                _text += " : ";
                WriteValue(member->value, level + 1);
                if (member + 1 != object.MemberEnd()) {
                    _text += ',';
                }
                NewLine();
            }
            Indent(level);
            _text += '}';
        } else if (value.IsArray()) {
            _text += '[';
            NewLine();
            const auto array = value.GetArray();
            for (auto element = array.Begin(); element != array.End(); ++element) {
                Indent(level + 1);
                WriteValue(*element, level + 1);
                if (element + 1 != array.End()) {
                    _text += ',';
                }
                NewLine();
            }
            Indent(level);
            _text += ']';
        } else {
            WriteScalar(value);
        }
    }

    // RapidJSON's own writer does the escaping and the number formats.
    void WriteScalar(const rapidjson::Value& value)
    {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        const bool written = value.Accept(writer);
        ORU_REQUIRE(written);
        _text.append(buffer.GetString(), buffer.GetSize());
    }

    void NewLine() { _text += '\n'; }
    void Indent(unsigned int level) { _text.append(4u * level, ' '); }

    std::string _text;
};

}  // namespace

std::string WritePrettyJson(const rapidjson::Value& value) { return PrettyJsonWriter().Write(value); }

}  // namespace Oru
