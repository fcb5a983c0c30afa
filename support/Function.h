// A copyable type-erased callable. Copies share one stored callable, which
// is destroyed with the last copy. Calling an empty function is a
// programming error.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "Assert.h"

namespace Oru {

template <typename Signature>
class function;

template <typename R, typename... A>
class function<R(A...)> {
    struct BasicStorage {
        virtual ~BasicStorage() = default;
        virtual R Invoke(A... arguments) = 0;
    };

    template <typename F>
    struct Storage final : BasicStorage {
        explicit Storage(F callable) : m_callable(std::move(callable)) {}
        R Invoke(A... arguments) override
        {
            // A callable's result is dropped when the signature returns void.
            if constexpr (std::is_void<R>::value) {
                m_callable(std::forward<A>(arguments)...);
            } else {
                return m_callable(std::forward<A>(arguments)...);
            }
        }
        F m_callable;
    };

public:
    function() = default;

    template <typename F,
              typename = std::enable_if_t<!std::is_same<std::decay_t<F>, function>::value &&
                                          std::is_invocable_r<R, std::decay_t<F>&, A...>::value>>
    function(F&& callable)  // NOLINT(google-explicit-constructor): callables convert
        : m_storage(std::make_shared<Storage<std::decay_t<F>>>(std::forward<F>(callable)))
    {
    }

    R operator()(A... arguments) const
    {
        ORU_REQUIRE(m_storage);
        return m_storage->Invoke(std::forward<A>(arguments)...);
    }

    explicit operator bool() const { return static_cast<bool>(m_storage); }

private:
    std::shared_ptr<BasicStorage> m_storage;
};

}  // namespace Oru
