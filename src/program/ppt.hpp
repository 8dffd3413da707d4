#pragma once
// The one road to the presentation program: run one of the add-in's macros and get its
// answer in the reply convention ("OK", "OK|" and fields, or "ERR|" and a sentence for the
// user), find the program's document window, bring the program to the front.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/rect.hpp"
#include "program/macro_reply.hpp"
#include "ports/macro_transport.hpp"
#include "ports/window_list.hpp"
#include "ports/workspace.hpp"
#include "program/program_queue.hpp"
#include "runtime/queues.hpp"
#include "runtime/system_clock.hpp"
#include "app/host.hpp"

namespace scribbet {

class PPT {
public:
    struct Ports {
        std::shared_ptr<MacroTransport> transport;
        std::shared_ptr<WindowList> windows;
        std::shared_ptr<Workspace> workspace;
    };
    // `main` is the queue the bridge refuses to block; every macro's name starts with
    // `macroPrefix`; deadlines are on `clock` (the system's when none is given).
    PPT(Ports ports, const Queue& main, std::string macroPrefix, const Clock* clock = nullptr);
    // Stops (see stop()); waits for the call in flight.
    ~PPT();

    // The workspace the bridge was given (others use it to open links too).
    const std::shared_ptr<Workspace>& workspace() const { return ports_.workspace; }

    // The program's one thread: one macro event in flight at a time.
    SerialQueue& queue() { return queue_; }
    // What waits for that thread, and timers on the program's clock.
    ProgramQueue& waiting() { return program_; }
    const Clock& clock() const { return clock_; }

    // Runs the macro prefix + name with the arguments, waiting for the answer among the user's
    // own calls. Never fails other than as a failed reply; refuses the main thread; calls
    // straight through when already on the program's thread.
    MacroReply run(const std::string& name, const std::vector<std::string>& args = {}, double timeoutSeconds = 60);

    // A call that holds no thread while it waits: `done` gets the answer on the program's thread,
    // or a failure at once when it cannot be asked (its deadline passed first, too many wait,
    // Scribbet is stopping). A call whose caller has gone is dropped without an answer.
    struct Call {
        std::string name;
        std::vector<std::string> args;
        double timeoutSeconds = 60;
        ProgramQueue::Lane lane = ProgramQueue::Lane::page;
        bool share = false; // the same call waiting already answers this one too
        Instant deadline = Instant::max();
        std::function<bool()> wanted;
    };
    void call(Call call, std::function<void(const MacroReply&)> done);
    // What a call that could not be asked is told.
    static MacroReply notAsked(ProgramQueue::Dropped why);
    // From here on nothing waits for the program: what waits is answered at once (see
    // ProgramQueue::stop); the call in flight goes on.
    void stop() { program_.stop(); }
    // A reply with the line its failure would log (empty when there is none to log), for a
    // caller that asks again and again and logs a failure only when it is new.
    struct Attempt {
        MacroReply reply;
        std::string failure;
    };
    // As run(), handing the failure's line back instead of logging it.
    Attempt attempt(const std::string& name, const std::vector<std::string>& args = {}, double timeoutSeconds = 60);
    // The event itself, on the queue.
    MacroReply send(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds);
    // Sorts a reply's direct text into the reply convention: a missing or empty text, or one
    // outside the convention, is a failure of its own.
    static MacroReply classify(const std::optional<std::string>& direct);

    // The frontmost on-screen document window of the program, larger than a palette.
    std::optional<Rect> windowBounds() const;
    void activate();
    // The program's process, looked up afresh each time.
    std::optional<int> running() const;

private:
    Attempt sendQuietly(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds);

    const Ports ports_;
    const Queue& main_;
    const std::string prefix_;
    const std::string id_ = Host::current().programId; // asked on every tick of a layer: made once
    const SystemClock systemClock_;
    const Clock& clock_;
    // Before the thread it feeds, so that the thread, ending first, finds it still there.
    ProgramQueue program_;
    SerialQueue queue_{"com.tarnwell.scribbet.powerpoint"};
};

// Packs a four-letter code, first byte highest.
std::uint32_t fourCC(std::string_view code);

} // namespace scribbet
