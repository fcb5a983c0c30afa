// Text forms of message fields for log lines and test messages: texts in
// quotes, optionals as their value or "-", doubles with as many digits as it
// takes to tell two different values apart.
#pragma once

#include <cstdint>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/optional.hpp>

namespace Keldra {
namespace KeldraJson {
namespace Printing {

inline void Print(std::ostream& stream, const std::string& text) { stream << '"' << text << '"'; }

inline void Print(std::ostream& stream, bool flag) { stream << (flag ? "true" : "false"); }

inline void Print(std::ostream& stream, std::uint8_t byte) { stream << static_cast<unsigned int>(byte); }

inline void Print(std::ostream& stream, int number) { stream << number; }

inline void Print(std::ostream& stream, unsigned int number) { stream << number; }

inline void Print(std::ostream& stream, double value)
{
    std::ostringstream shortForm;
    shortForm.imbue(std::locale::classic());
    shortForm << value;
    std::istringstream readBack(shortForm.str());
    readBack.imbue(std::locale::classic());
    double parsed = 0.0;
    if (readBack >> parsed && parsed == value) {
        stream << shortForm.str();
        return;
    }
    // NaN, infinities and values the default six digits would round.
    std::ostringstream exactForm;
    exactForm.imbue(std::locale::classic());
    exactForm.precision(std::numeric_limits<double>::max_digits10);
    exactForm << value;
    stream << exactForm.str();
}

template <typename T>
void Print(std::ostream& stream, const boost::optional<T>& value)
{
    if (value) {
        Print(stream, *value);
    } else {
        stream << '-';
    }
}

// Message types print themselves.
template <typename T>
void PrintMessage(std::ostream& stream, const T& message)
{
    stream << message;
}

template <typename T>
void Print(std::ostream& stream, const std::vector<T>& values)
{
    stream << '[';
    const char* separator = "";
    for (const auto& value : values) {
        stream << separator;
        PrintMessage(stream, value);
        separator = ", ";
    }
    stream << ']';
}

// Writes "name: value" with the separator that a field list needs.
class FieldWriter {
public:
    FieldWriter(std::ostream& stream, const char* typeName) : _stream(stream) { _stream << typeName << '{'; }
    ~FieldWriter() { _stream << '}'; }
    FieldWriter(const FieldWriter&) = delete;
    FieldWriter& operator=(const FieldWriter&) = delete;

    template <typename T>
    FieldWriter& Field(const char* name, const T& value)
    {
        _stream << _separator << name << ": ";
        Print(_stream, value);
        _separator = ", ";
        return *this;
    }

    template <typename T>
    FieldWriter& MessageField(const char* name, const T& value)
    {
        _stream << _separator << name << ": ";
        PrintMessage(_stream, value);
        _separator = ", ";
        return *this;
    }

    template <typename T>
    FieldWriter& MessageField(const char* name, const boost::optional<T>& value)
    {
        _stream << _separator << name << ": ";
        if (value) {
            PrintMessage(_stream, *value);
        } else {
            _stream << '-';
        }
        _separator = ", ";
        return *this;
    }

private:
    std::ostream& _stream;
    const char* _separator = "";
};

}  // namespace Printing
}  // namespace KeldraJson
}  // namespace Keldra
