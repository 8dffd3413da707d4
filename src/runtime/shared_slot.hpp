#pragma once
// The few long-lived objects that are reached by name rather than passed (the log, the layer,
// the pane reader): `main` builds each one and opens a SharedSlot for it, and X::shared() reads
// the slot. A slot opened inside another (a test's) puts the outer object back when it closes.
#include <atomic>

namespace scribbet {

template <class T>
class SharedSlot {
public:
    explicit SharedSlot(T& object) : previous_(slot().exchange(&object)) {}
    ~SharedSlot() { slot().store(previous_); }
    SharedSlot(const SharedSlot&) = delete;
    SharedSlot& operator=(const SharedSlot&) = delete;

    // The object of the innermost open slot; none outside every slot.
    static T* get() { return slot().load(); }

private:
    static std::atomic<T*>& slot() {
        static std::atomic<T*> current{nullptr};
        return current;
    }
    T* previous_;
};

} // namespace scribbet
