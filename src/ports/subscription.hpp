#pragma once
// A subscription to notifications (workspace changes, input monitors): it ends when its
// handle is dropped or reset, so a handler cannot outlive the object that holds the handle.
#include <functional>
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

} // namespace scribbet
