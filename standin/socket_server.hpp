#pragma once
// The stand-in's end of the wire: a Unix socket, requests answered one after the other on
// each connection (a client may keep its connection for the next request, or send one and
// go), each connection on its own thread so that an answer the program delays holds up
// nobody else.
#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "shared_model.hpp"

namespace scribbet::standin {

class SocketServer {
public:
    // Listens at `path`, taking over a socket that nobody answers on. None, with a sentence
    // in `error`, when another stand-in answers there or the socket cannot be made.
    static std::unique_ptr<SocketServer> open(const std::filesystem::path& path, std::string& error);
    // Closes the socket and removes it, unless someone else has put theirs there since.
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Answers connections until stop(); then releases the waiting ones, ends the quiet ones
    // and joins them all.
    void run(SharedModel& model);
    // From any thread, and from a signal handler.
    void stop();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    SocketServer() = default;
    void serve(int fd, SharedModel& model);
    void reap(bool all);

    std::filesystem::path path_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    std::list<Worker> workers_;
};

} // namespace scribbet::standin
