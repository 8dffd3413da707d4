#pragma once
// One request's way back to its client. An answer may come from any thread, long after the
// request arrived (from the program's thread, say, when the program has answered a macro):
// the first reply counts and later ones are dropped. It also tells whether anyone still
// waits, so that work for a client that has gone is never done, and it holds what the client
// is told should Scribbet stop before the answer is ready.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "server/reply.hpp"

namespace scribbet {

class Answer {
public:
    // Hands the reply to `deliver`, once.
    static Answer to(std::function<void(Reply)> deliver) {
        auto s = std::make_shared<State>();
        s->deliver = std::move(deliver);
        return Answer(std::move(s));
    }

    void operator()(Reply reply) const {
        std::function<void(Reply)> deliver;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->answered) return;
            state_->answered = true;
            deliver = std::move(state_->deliver);
            state_->stopReply.reset();
        }
        if (deliver) deliver(std::move(reply));
    }
    // Someone still waits for this answer.
    bool wanted() const {
        std::lock_guard lock(state_->mutex);
        return !state_->answered && !state_->gone;
    }
    // The client went away: nothing will be written, and nobody need work for it.
    void gone() const {
        std::lock_guard lock(state_->mutex);
        state_->gone = true;
    }
    // What the client is told if the server stops before the answer is ready.
    void onStop(Reply reply) const {
        std::lock_guard lock(state_->mutex);
        if (!state_->answered) state_->stopReply = std::move(reply);
    }
    // The server is stopping: the stop reply (or `fallback`) goes out now, unless answered.
    void stopping(const Reply& fallback) const {
        std::optional<Reply> r;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->answered) return;
            r = state_->stopReply ? *state_->stopReply : fallback;
        }
        (*this)(std::move(*r));
    }
    bool answered() const {
        std::lock_guard lock(state_->mutex);
        return state_->answered;
    }

private:
    struct State {
        std::mutex mutex;
        bool answered = false;
        bool gone = false;
        std::function<void(Reply)> deliver;
        std::optional<Reply> stopReply;
    };
    explicit Answer(std::shared_ptr<State> s) : state_(std::move(s)) {}
    std::shared_ptr<State> state_;
};

} // namespace scribbet
