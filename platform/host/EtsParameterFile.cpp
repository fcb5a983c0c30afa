#include "EtsParameterFile.h"

#include <limits>

#include <boost/optional.hpp>

#include "QuotedText.h"
#include "TextFields.h"

namespace Oru {
namespace {

class Reader {
public:
    void Line(int number, std::string line)
    {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            return;
        }
        const auto equals = trimmed.find('=');
        if (equals == std::string::npos) {
            return Error(number, "expected 'text <id> = <value>' or 'number <id> = <value>'");
        }
        const std::string name = Trim(trimmed.substr(0, equals));
        const std::string value = Trim(trimmed.substr(equals + 1));

        const auto kindEnd = name.find_first_of(Blanks);
        const std::string kind = name.substr(0, kindEnd);
        const std::string idText = kindEnd == std::string::npos ? std::string() : Trim(name.substr(kindEnd));
        if (kind != "text" && kind != "number") {
            return Error(number, "unknown parameter kind '" + kind + "': expected text or number");
        }
        const auto id = ParseInteger(idText);
        if (!id || *id < 0 || *id > std::numeric_limits<int>::max()) {
            return Error(number, "bad parameter id '" + idText + "': expected a number 0..2147483647");
        }
        const int parameter = static_cast<int>(*id);
        const std::string label = kind + " " + std::to_string(parameter);

        auto& lines = kind == "text" ? _textLines : _numberLines;
        const auto earlier = lines.find(parameter);
        if (earlier != lines.end()) {
            return Error(number, label + " is defined twice (first on line " + std::to_string(earlier->second) + ")");
        }

        if (kind == "text") {
            std::string text = value;
            if (!value.empty() && value.front() == '"') {
                std::string reason;
                const auto unquoted = Unquote(value, &reason);
                if (!unquoted) {
                    return Error(number, "bad text of " + label + ": " + reason);
                }
                text = *unquoted;
            }
            _file.parameters.texts[parameter] = text;
        } else {
            const auto numberValue = ParseInteger(value);
            // Up to 0xFFFFFFFF, so that a word of eight 4-bit groups can be
            // written in hexadecimal; stored as its 32-bit two's complement.
            if (!numberValue || *numberValue < std::numeric_limits<std::int32_t>::min() ||
                *numberValue > std::numeric_limits<std::uint32_t>::max()) {
                return Error(number, "bad value of " + label + " '" + value +
                                         "': expected an integer -2147483648..4294967295 (or 0x0..0xFFFFFFFF)");
            }
            _file.parameters.numbers[parameter] =
                static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(*numberValue)));
        }
        lines[parameter] = number;
    }

    EtsParameterFile Result() { return std::move(_file); }

private:
    void Error(int line, const std::string& message)
    {
        _file.errors.push_back("line " + std::to_string(line) + ": " + message);
    }

    EtsParameterFile _file;
    std::map<int, int> _textLines;    // parameter -> line defining it
    std::map<int, int> _numberLines;
};

}  // namespace

EtsParameterFile ParseEtsParameters(std::istream& input)
{
    Reader reader;
    std::string line;
    int number = 0;
    while (std::getline(input, line)) {
        reader.Line(++number, line);
    }
    return reader.Result();
}

}  // namespace Oru
