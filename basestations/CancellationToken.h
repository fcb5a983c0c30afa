// Lets the owner of a request abandon it while it is in flight. A token can
// be handed to any number of requests, one after another or at once, and is
// reused after Cancel(): Cancel() abandons the requests in flight at that
// moment; requests started later run normally.
//
// The contract between the token's owner and a transport (IKeldraWebApi):
// - A request that takes a token calls OnCancel() when it starts, with an
//   abort action, and keeps the returned Registration until it completes.
//   Dropping the Registration (or Reset()) withdraws the action.
// - Cancel() runs the abort action of every request registered at that
//   moment, once, in the order they registered, on the calling thread, and
//   forgets them.
// - The abort action stops the request's network work (closes or cancels
//   its socket and timers) and sees to it that the request's handler is
//   called exactly once, through the event loop and never from inside the
//   abort action, with CancelledError(): the generic-category
//   errc::operation_canceled. A cancelled request therefore differs from a
//   transport failure that Boost.Asio reports as system-category
//   operation_aborted; callers compare error codes, not conditions.
// - A request whose handler has already been called or queued when Cancel()
//   runs is not registered any more and keeps its result.
// Everything here runs on the thread of the event loop that serves the
// requests; the token has no lock. It may die before the requests it was
// handed to: their Registrations then do nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include <boost/system/error_code.hpp>

#include "support/Function.h"

namespace Keldra {

class CancellationToken {
    struct State {
        std::uint64_t nextId = 0;
        std::map<std::uint64_t, Oru::function<void()>> abortActions;
    };

public:
    // A request's hold on its abort action; move-only.
    class Registration {
    public:
        Registration() = default;
        Registration(Registration&& other) noexcept
            : _state(std::move(other._state)), _id(other._id)
        {
            other._state.reset();
        }
        Registration& operator=(Registration&& other) noexcept
        {
            if (this != &other) {
                Reset();
                _state = std::move(other._state);
                _id = other._id;
                other._state.reset();
            }
            return *this;
        }
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
        ~Registration() { Reset(); }

        // Withdraws the abort action (the request completed).
        void Reset()
        {
            if (auto state = _state.lock()) {
                state->abortActions.erase(_id);
            }
            _state.reset();
        }

    private:
        friend class CancellationToken;
        Registration(const std::shared_ptr<State>& state, std::uint64_t id) : _state(state), _id(id) {}

        std::weak_ptr<State> _state;
        std::uint64_t _id = 0;
    };

    CancellationToken() = default;
    CancellationToken(const CancellationToken&) = delete;
    CancellationToken& operator=(const CancellationToken&) = delete;
    // The moved-to token cancels what the moved-from one had registered (a
    // token assigned over forgets its own); the moved-from token is like a
    // new one.
    CancellationToken(CancellationToken&&) noexcept = default;
    CancellationToken& operator=(CancellationToken&&) noexcept = default;

    // Abandons every request in flight with this token.
    void Cancel()
    {
        if (!_state) {
            return;
        }
        auto abortActions = std::move(_state->abortActions);
        _state->abortActions.clear();
        for (auto& entry : abortActions) {
            entry.second();
        }
    }

    // Transport side: registers the abort action of a request in flight.
    Registration OnCancel(Oru::function<void()> abortAction)
    {
        if (!_state) {
            _state = std::make_shared<State>();
        }
        const auto id = _state->nextId++;
        _state->abortActions.emplace(id, std::move(abortAction));
        return Registration(_state, id);
    }

    // How many requests Cancel() would abandon now.
    std::size_t InFlightCount() const { return _state ? _state->abortActions.size() : 0; }

    // The error a cancelled request completes with.
    static boost::system::error_code CancelledError()
    {
        return boost::system::errc::make_error_code(boost::system::errc::operation_canceled);
    }

private:
    std::shared_ptr<State> _state;
};

}  // namespace Keldra
