#pragma once
// How a callback outlives its owner, the one way the program does it: the callback holds the
// owner weakly and, once the owner is gone, does nothing, so a late answer is dropped instead of
// being applied to freed memory or to a newer object.
//
// - An object owned by a shared_ptr hands out its std::weak_ptr.
// - Any other owner declares a WeakFactory<Owner> as its LAST member, so that it goes first when
//   the owner is destroyed, before any member a callback might use (or calls invalidate() first
//   thing in its destructor); invalidate() ends the handles given out so far (at a stop, say)
//   while the owner lives on.
// - weakly(handle, f) makes the callback: f(owner, args...) while the owner lives, else nothing.
// - postAndReply runs work on one queue and its answer on another, through such a callback.
// A weak handle is checked and used on the thread that destroys its owner (the main queue for
// most owners, the network thread for the server), so an owner cannot go while a callback
// runs.
#include <memory>
#include <utility>

#include "runtime/queues.hpp"

namespace scribbet {

template <class T>
class WeakFactory {
public:
    explicit WeakFactory(T* owner) : owner_(owner) {}
    WeakFactory(const WeakFactory&) = delete;
    WeakFactory& operator=(const WeakFactory&) = delete;

    // A handle that expires when the owner goes or at the next invalidate().
    std::weak_ptr<T> weak() const { return std::shared_ptr<T>(token_, owner_); }
    // Ends every handle given out so far; the ones given out after work again.
    void invalidate() { token_ = std::make_shared<Token>(); }

private:
    struct Token {};
    T* owner_;
    std::shared_ptr<Token> token_ = std::make_shared<Token>();
};

template <class T, class F>
auto weakly(std::weak_ptr<T> owner, F f) {
    return [weak = std::move(owner), f = std::move(f)](auto&&... args) mutable {
        if (auto self = weak.lock()) f(*self, std::forward<decltype(args)>(args)...);
    };
}

template <class T, class F>
auto weakly(const std::shared_ptr<T>& owner, F f) {
    return weakly(std::weak_ptr<T>(owner), std::move(f));
}

// Runs `work` on `on`, then `reply(result)` on `back`. The work owns nothing of its caller's; a
// reply made by weakly() is dropped when its owner went meanwhile.
template <class Work, class Reply>
void postAndReply(Queue& on, Work work, Queue& back, Reply reply) {
    on.async([work = std::move(work), &back, reply = std::move(reply)]() mutable {
        back.async([result = work(), reply = std::move(reply)]() mutable { reply(std::move(result)); });
    });
}

} // namespace scribbet
