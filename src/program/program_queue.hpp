#pragma once
// What waits for the presentation program. The program answers one macro at a time, so its
// calls wait here - as data, holding no thread - until the program's one thread takes them:
// the user's own calls (drawing starts, the layer's measurements, placings) before the page's
// reads; the same read asked by many at once runs once for all of them; a call whose deadline
// passes before its turn is answered then, and one whose caller has gone is dropped unsent. A
// stop answers everything still waiting at once.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ports/clock.hpp"
#include "program/macro_reply.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

class ProgramQueue {
public:
    enum class Lane { user, page };
    // Why a job never ran.
    enum class Dropped {
        late,     // its deadline passed before its turn
        gone,     // its caller went away
        stopping, // the program's side is stopping
        full,     // too many page reads wait already
    };

    struct Job {
        Lane lane = Lane::user;
        // Jobs waiting with the same non-empty key share one run: its reply goes to each.
        std::string share;
        // The job has to have begun by then, on the program's clock.
        Instant deadline = Instant::max();
        // False once the caller has gone: the job is then neither run nor answered. Any thread;
        // null: always wanted.
        std::function<bool()> wanted;
        // On the program's thread.
        std::function<MacroReply()> run;
        // Given the run's reply, on the program's thread, right after it.
        std::function<void(const MacroReply&)> done;
        // The job never ran; on whichever thread found out (the sweeper, a stop, the submitter).
        std::function<void(Dropped)> dropped;
    };

    // `runner` is the program's thread; deadlines are on `clock`. At most `mostPageWaiting`
    // page reads wait at once: more are refused at once, so no client can fill the queue.
    ProgramQueue(SerialQueue& runner, const Clock& clock, std::size_t mostPageWaiting = 256);
    // Stops (see stop()) and ends the sweeper.
    ~ProgramQueue();
    ProgramQueue(const ProgramQueue&) = delete;
    ProgramQueue& operator=(const ProgramQueue&) = delete;

    void submit(Job job);
    // Runs `task` on the sweeper's thread at `at` (program's clock), unless stop() comes first.
    // The task must be quick: it shares the thread with every deadline.
    void at(Instant when, std::function<void()> task);
    // Every job still waiting is dropped as `stopping`, and so is every job submitted later;
    // the one the program is running goes on (nothing can interrupt it).
    void stop();
    bool stopped() const;

    // Jobs waiting now (shared ones once per caller).
    std::size_t waiting() const;

private:
    struct Entry;
    using EntryPtr = std::shared_ptr<Entry>;
    void runNext();
    EntryPtr takeNext(); // with mutex_
    void sweep();
    std::deque<EntryPtr>& laneOf(Lane lane) { return lane == Lane::user ? user_ : page_; }

    SerialQueue& runner_;
    const Clock& clock_;
    const std::size_t mostPageWaiting_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<EntryPtr> user_, page_;
    struct Timed {
        Instant when;
        std::function<void()> task;
    };
    std::vector<Timed> timers_;
    bool stopped_ = false;
    bool ending_ = false;
    std::thread sweeper_;
};

} // namespace scribbet
