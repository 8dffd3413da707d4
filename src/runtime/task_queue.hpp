#pragma once
// Tasks and timers in the order they fall due: the one queue behind every loop of the program.
// A serial queue's thread, the headless main thread, GLib's loop, Cocoa's run loop and a
// test's virtual time only sleep and wake; what runs next, and when, is decided here, so
// every platform orders tasks alike. Any thread may add or cancel.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "ports/clock.hpp"

namespace scribbet {

using Task = std::function<void()>;

class TaskQueue {
public:
    using Id = std::uint64_t;

    // Adds a task due at `due`; with an interval, it comes back every interval after that.
    // Tasks due at the same moment run in the order they were added.
    struct Added {
        Id id;
        bool first; // it is now the earliest: a loop asleep until a later time must wake
    };
    Added add(Instant due, Task task, Duration interval = Duration::zero());
    // A cancelled task never runs again; cancelling a finished or unknown one does nothing.
    void cancel(Id id);

    // Runs, one after another, the tasks due by the clock's time at the call, until `stop`
    // holds; answers when the first task left is due. Tasks added meanwhile for a later moment
    // wait for the next call, so a task that keeps posting cannot keep the loop from its other
    // work.
    std::optional<Instant> runDue(const Clock& clock, const std::function<bool()>& stop = {});
    // When the first task is due.
    std::optional<Instant> next() const;
    std::size_t size() const;
    // Drops every task; their captures are released outside the lock.
    void clear();

private:
    using Key = std::pair<Instant, Id>;
    struct Entry {
        Task task;
        Duration interval{}; // zero for a task that runs once
    };
    mutable std::mutex mutex_;
    std::map<Key, Entry> due_;    // by time, then by order of adding
    std::map<Id, Instant> times_; // for cancel
    Id nextId_ = 1;
};

// A repeating task that ran late comes back on its own grid, skipping the runs it missed, so
// a busy moment neither fires a burst of catch-up runs nor shifts every later run.
Instant nextOnGrid(Instant due, Duration interval, Instant now);

} // namespace scribbet
