#include "program/program_queue.hpp"

#include <algorithm>

namespace scribbet {

namespace {
// How often, at most, the sweeper looks at the clock while something waits with a deadline:
// the clock may be a virtual one, which a condition variable cannot wait on.
constexpr Duration glance = std::chrono::milliseconds(20);

using Dropped = ProgramQueue::Dropped;

struct Member {
    Instant deadline;
    std::function<bool()> wanted;
    std::function<void(const MacroReply&)> done;
    std::function<void(Dropped)> dropped;
    bool isWanted() const { return !wanted || wanted(); }
};

// Callbacks found under the lock, called after it is released.
struct Drops {
    std::vector<std::pair<std::function<void(Dropped)>, Dropped>> list;
    void add(Member& m, Dropped why) {
        if (m.dropped) list.emplace_back(std::move(m.dropped), why);
    }
    void call() {
        for (auto& [f, why] : list) f(why);
        list.clear();
    }
};
} // namespace

struct ProgramQueue::Entry {
    Lane lane;
    std::string share;
    std::function<MacroReply()> run;
    std::vector<Member> members;
};

ProgramQueue::ProgramQueue(SerialQueue& runner, const Clock& clock, std::size_t mostPageWaiting)
    : runner_(runner), clock_(clock), mostPageWaiting_(std::max<std::size_t>(1, mostPageWaiting)) {
    sweeper_ = std::thread([this] { sweep(); });
}

ProgramQueue::~ProgramQueue() {
    stop();
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    sweeper_.join();
}

void ProgramQueue::submit(Job job) {
    Member member{job.deadline, std::move(job.wanted), std::move(job.done), std::move(job.dropped)};
    std::unique_lock lock(mutex_);
    if (stopped_) {
        lock.unlock();
        if (member.dropped) member.dropped(Dropped::stopping);
        return;
    }
    auto& lane = laneOf(job.lane);
    if (!job.share.empty()) {
        const auto same = std::find_if(lane.begin(), lane.end(), [&](const EntryPtr& e) { return e->share == job.share; });
        if (same != lane.end()) {
            (*same)->members.push_back(std::move(member));
            lock.unlock();
            changed_.notify_all();
            return;
        }
    }
    if (job.lane == Lane::page && page_.size() >= mostPageWaiting_) {
        lock.unlock();
        if (member.dropped) member.dropped(Dropped::full);
        return;
    }
    auto entry = std::make_shared<Entry>();
    entry->lane = job.lane;
    entry->share = std::move(job.share);
    entry->run = std::move(job.run);
    entry->members.push_back(std::move(member));
    lane.push_back(std::move(entry));
    lock.unlock();
    changed_.notify_all();
    // One turn of the runner per entry; a turn whose entry went meanwhile (late, dropped)
    // takes the next one or finds nothing.
    runner_.async([this] { runNext(); });
}

ProgramQueue::EntryPtr ProgramQueue::takeNext() {
    for (auto* lane : {&user_, &page_}) {
        while (!lane->empty()) {
            EntryPtr e = std::move(lane->front());
            lane->pop_front();
            if (!e->members.empty()) return e;
        }
    }
    return nullptr;
}

void ProgramQueue::runNext() {
    Drops drops;
    EntryPtr entry;
    {
        std::lock_guard lock(mutex_);
        while (!entry) {
            entry = takeNext();
            if (!entry) break;
            // Nobody is left to hear the answer: the program is not asked.
            std::vector<Member> kept;
            for (auto& m : entry->members) {
                if (m.isWanted()) {
                    kept.push_back(std::move(m));
                } else {
                    drops.add(m, Dropped::gone);
                }
            }
            entry->members = std::move(kept);
            if (entry->members.empty()) entry = nullptr;
        }
    }
    drops.call();
    if (!entry) return;
    const MacroReply reply = entry->run ? entry->run() : MacroReply{};
    for (auto& m : entry->members) {
        if (m.done) m.done(reply);
    }
}

void ProgramQueue::at(Instant when, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        timers_.push_back({when, std::move(task)});
    }
    changed_.notify_all();
}

void ProgramQueue::sweep() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
        const Instant now = clock_.now();
        Drops drops;
        std::vector<std::function<void()>> due;
        Instant next = Instant::max();
        for (auto* lane : {&user_, &page_}) {
            for (auto& e : *lane) {
                for (auto& m : e->members) {
                    if (m.deadline <= now) {
                        drops.add(m, Dropped::late);
                        m.deadline = Instant::min(); // marked: removed below
                    } else {
                        next = std::min(next, m.deadline);
                    }
                }
                std::erase_if(e->members, [](const Member& m) { return m.deadline == Instant::min(); });
            }
            std::erase_if(*lane, [](const EntryPtr& e) { return e->members.empty(); });
        }
        for (auto it = timers_.begin(); it != timers_.end();) {
            if (it->when <= now) {
                due.push_back(std::move(it->task));
                it = timers_.erase(it);
            } else {
                next = std::min(next, it->when);
                ++it;
            }
        }
        if (!drops.list.empty() || !due.empty()) {
            lock.unlock();
            drops.call();
            for (auto& task : due) task();
            lock.lock();
            continue;
        }
        if (next == Instant::max()) {
            changed_.wait(lock);
        } else {
            changed_.wait_for(lock, std::min<Duration>(glance, next - now));
        }
    }
}

void ProgramQueue::stop() {
    std::deque<EntryPtr> user, page;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        user.swap(user_);
        page.swap(page_);
        timers_.clear();
    }
    changed_.notify_all();
    Drops drops;
    for (auto* lane : {&user, &page}) {
        for (auto& e : *lane) {
            for (auto& m : e->members) drops.add(m, Dropped::stopping);
        }
    }
    drops.call();
}

bool ProgramQueue::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

std::size_t ProgramQueue::waiting() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto* lane : {&user_, &page_}) {
        for (const auto& e : *lane) n += e->members.size();
    }
    return n;
}

} // namespace scribbet
