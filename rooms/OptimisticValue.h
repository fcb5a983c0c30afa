// The cache of one value written to a base station and not yet confirmed:
// the write that stored it may publish it once, as long as no different
// value has been written since. Not synchronised; the owner locks.
#pragma once

#include <cstdint>
#include <utility>

#include <boost/optional.hpp>

#include "platform/host/OruLogging.h"

namespace Keldra {

template <typename ValueType>
class OptimisticValue {
public:
    // A fresh cache is empty and its token is 0; the first stored value
    // gets token 1.
    explicit OptimisticValue(std::uint32_t validityToken = 0) : _validityToken(validityToken) {}

    // Keeps a value about to be written; returns the token under which the
    // write's response asks for it. The same value still cached keeps its
    // token; any other value gets the next one (wrapping after 2^32 - 1).
    std::uint32_t SetValue(ValueType value)
    {
        if (_value && *_value == value) {
            ORU_LOG_DEBUG("Optimistic value cache did not change, Validity Token: " << _validityToken);
            return _validityToken;
        }
        _value = std::move(value);
        ++_validityToken;
        ORU_LOG_DEBUG("Optimistic value cache changed, Validity Token: " << _validityToken);
        return _validityToken;
    }

    // The cached value if the token is the current one; it is handed out at
    // most once. A stale token yields nothing and leaves the cache alone.
    boost::optional<ValueType> GetValue(std::uint32_t validityToken)
    {
        ORU_LOG_DEBUG("Optimistic value requested for Validity Token: " << validityToken
                                                                        << ", current ValidityToken: " << _validityToken);
        if (validityToken != _validityToken) {
            return boost::none;
        }
        boost::optional<ValueType> value = std::move(_value);
        _value = boost::none;
        return value;
    }

private:
    boost::optional<ValueType> _value;
    std::uint32_t _validityToken;
};

}  // namespace Keldra
