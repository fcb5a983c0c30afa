// How a handler that may run after its object is gone finds out: the object
// keeps a SelfHandle as a member, the handler captures the Weak taken from
// it, and Weak::Get() yields null once the handle has been destroyed or
// expired. The handle does not keep the object alive: Get() and the
// object's destruction run on one thread (the event loop's), or the owner
// serialises Expire() and the handlers' Get() with a lock of its own.
// docs/lifetimes.md says where it is used.
#pragma once

#include <memory>
#include <utility>

namespace Oru {

template <typename T>
class SelfHandle {
public:
    class Weak {
    public:
        Weak() = default;
        // The object, or null once it is gone.
        T* Get() const
        {
            const auto self = _self.lock();
            return self ? *self : nullptr;
        }

    private:
        friend class SelfHandle;
        explicit Weak(std::weak_ptr<T* const> self) : _self(std::move(self)) {}

        std::weak_ptr<T* const> _self;
    };

    explicit SelfHandle(T* self) : _self(std::make_shared<T* const>(self)) {}
    // The handle names one object at one address: an object holding one is
    // neither copied nor moved.
    SelfHandle(const SelfHandle&) = delete;
    SelfHandle& operator=(const SelfHandle&) = delete;

    Weak GetWeak() const { return Weak(_self); }
    // Lets the handlers find the object gone before its destructor has
    // finished, first thing in the destructor.
    void Expire() { _self.reset(); }

private:
    std::shared_ptr<T* const> _self;
};

}  // namespace Oru
