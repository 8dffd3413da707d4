#pragma once
// A subscription to notifications (workspace changes, input monitors): it ends when its
// handle is dropped or reset, so a handler cannot outlive the object that holds the handle.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace scribbet {

class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> end) : end_(std::move(end)) {}
    Subscription(Subscription&& other) noexcept : end_(std::exchange(other.end_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            end_ = std::exchange(other.end_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (auto end = std::exchange(end_, nullptr)) end();
    }
    bool active() const { return static_cast<bool>(end_); }

private:
    std::function<void()> end_;
};

// The handlers of one notification, for an adapter to keep: add() hands out the subscription,
// which may outlive the list; the notify calls see the handlers as they were when it began,
// so a handler may end its own or another's subscription. One thread (the main one).
template <class Signature>
class CallbackList;

template <class R, class... Args>
class CallbackList<R(Args...)> {
public:
    using Handler = std::function<R(Args...)>;

    Subscription add(Handler handler) {
        const auto id = ++state_->last;
        state_->handlers.emplace(id, std::move(handler));
        return Subscription([weak = std::weak_ptr<State>(state_), id] {
            if (auto state = weak.lock()) state->handlers.erase(id);
        });
    }
    // Every handler, in the order they were added.
    void notify(Args... args) const {
        const auto handlers = state_->handlers;
        for (const auto& [id, h] : handlers) h(args...);
    }
    // Handler after handler until one answers true; whether one did.
    bool notifyUntilTaken(Args... args) const {
        const auto handlers = state_->handlers;
        for (const auto& [id, h] : handlers) {
            if (h(args...)) return true;
        }
        return false;
    }
    std::size_t size() const { return state_->handlers.size(); }
    bool empty() const { return state_->handlers.empty(); }

private:
    struct State {
        std::map<std::uint64_t, Handler> handlers;
        std::uint64_t last = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace scribbet
