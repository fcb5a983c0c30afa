// The outcome of an asynchronous operation: a value or an error code.
#pragma once

#include <utility>

#include <boost/system/error_code.hpp>
#include <boost/variant.hpp>

namespace Oru {

template <typename T>
class SystemResult {
public:
    SystemResult(T value) : _content(std::move(value)) {}                           // NOLINT: a value converts
    SystemResult(const boost::system::error_code& error) : _content(error) {}       // NOLINT: an error converts

    bool HasValue() const { return _content.which() == 0; }
    bool HasError() const { return !HasValue(); }

    // Only when HasValue().
    const T& GetValue() const { return boost::get<T>(_content); }
    T& GetValue() { return boost::get<T>(_content); }

    // The error; an empty error code when the result holds a value.
    boost::system::error_code GetError() const
    {
        const auto* error = boost::get<boost::system::error_code>(&_content);
        return error != nullptr ? *error : boost::system::error_code();
    }

private:
    boost::variant<T, boost::system::error_code> _content;
};

}  // namespace Oru
