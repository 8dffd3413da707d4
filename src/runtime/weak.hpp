#pragma once
// Callbacks that may outlive their owner hold it weakly: once the owner is gone they do
// nothing, so a late answer is dropped instead of being applied to a newer object.
#include <memory>
#include <utility>

namespace scribbet {

template <class T, class F>
auto weakly(const std::shared_ptr<T>& owner, F f) {
    return [weak = std::weak_ptr<T>(owner), f = std::move(f)](auto&&... args) mutable {
        if (auto self = weak.lock()) f(*self, std::forward<decltype(args)>(args)...);
    };
}

} // namespace scribbet
