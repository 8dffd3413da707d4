#pragma once
// A stand-in answering on a real socket, for tests that reach it only through the wire:
// either served from this process on a thread, or the real `scribbet-standin serve` program.
// Both start from the standard model.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "adapters/linux/standin_link.hpp"
#include "support/process.hpp"
#include "socket_server.hpp"

namespace scribbet::standin::test {

enum class Served { inProcess, asProgram };

inline std::string servedName(const ::testing::TestParamInfo<Served>& info) {
    return info.param == Served::inProcess ? "inProcess" : "asProgram";
}

// Points SCRIBBET_STANDIN_SOCKET, which the adapters read on every call, at `socket` while
// it lives.
class SocketEnv {
public:
    explicit SocketEnv(const std::filesystem::path& socket) {
        if (const char* old = std::getenv("SCRIBBET_STANDIN_SOCKET")) old_ = old;
        ::setenv("SCRIBBET_STANDIN_SOCKET", socket.c_str(), 1);
    }
    ~SocketEnv() {
        if (old_) ::setenv("SCRIBBET_STANDIN_SOCKET", old_->c_str(), 1);
        else ::unsetenv("SCRIBBET_STANDIN_SOCKET");
    }
    SocketEnv(const SocketEnv&) = delete;
    SocketEnv& operator=(const SocketEnv&) = delete;

private:
    std::optional<std::string> old_;
};

class LiveStandin {
public:
    LiveStandin(Served how, std::filesystem::path socket, const std::filesystem::path& dir)
        : socket_(std::move(socket)) {
        if (how == Served::inProcess) serveHere();
        else startProgram(dir);
    }
    ~LiveStandin() {
        if (server_) {
            server_->stop();
            thread_.join();
        }
        if (program_) endProgram();
    }
    LiveStandin(const LiveStandin&) = delete;
    LiveStandin& operator=(const LiveStandin&) = delete;

    // Whether it answers within a few seconds of starting.
    bool answering() {
        for (int i = 0; i < 500; ++i) {
            if (ask({{"op", "running"}}).ok()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    Answer ask(const nlohmann::json& request) { return call(request, std::chrono::seconds(5), socket_); }
    // The whole model, as `ctl state` shows it; null when it did not answer.
    nlohmann::json state() {
        const Answer a = ask({{"op", "state"}});
        return a.ok() ? a.body : nlohmann::json();
    }
    // Changes the model as `ctl set` does; the refusal's sentence, or empty.
    std::string set(const nlohmann::json& values) {
        const Answer a = ask({{"op", "set"}, {"values", values}});
        if (!a.ok()) return "no answer";
        return a.body.value("ok", false) ? "" : a.body.value("msg", "refused");
    }

private:
    void serveHere() {
        std::string error;
        server_ = SocketServer::open(socket_, error);
        if (!server_) {
            ADD_FAILURE() << error;
            return;
        }
        thread_ = std::thread([this] { server_->run(shared_); });
    }

    void startProgram(const std::filesystem::path& dir) {
        program_ = std::make_unique<scribbet::test::Process>(
            std::vector<std::string>{SCRIBBET_STANDIN_PROGRAM, "serve", "--socket", socket_.string()},
            std::vector<std::string>{"HOME=" + dir.string(), "PATH=/usr/bin:/bin"}, (dir / "standin-out.txt").string());
    }

    // Asks it to quit; kills it when it does not end in time.
    void endProgram() {
        ask({{"op", "quit"}});
        if (program_->wait(std::chrono::milliseconds(3000)) < 0) ADD_FAILURE() << "the stand-in did not end when asked";
    }

    std::filesystem::path socket_;
    SharedModel shared_{Model::standard("1.2.3", static_cast<int>(::getpid()))};
    std::unique_ptr<SocketServer> server_;
    std::thread thread_;
    std::unique_ptr<scribbet::test::Process> program_;
};

} // namespace scribbet::standin::test
