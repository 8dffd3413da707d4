#pragma once
// Scribbet's own HTTP/1.1 server on 127.0.0.1: one request per connection, the drawing
// page's files from the web directory, and everything under /api/ handed to the API.
//
// Threads: one "net" thread (com.tarnwell.scribbet.net) runs an Asio io_context that owns
// the listener, every connection and their timers, so none of that state needs a lock.
// Files and refusals are answered on net itself: they take a moment and need nothing else.
// API requests are handed to the API on the small concurrent "work" queue with an Answer; an
// answer that waits for the presentation program holds no thread (the API queues its call and
// answers when the program has), and the reply is handed back to net to be written. While an
// API request waits, its connection is watched: a client that leaves is noticed at once.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <nlohmann/json.hpp>

#include "ports/clock.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"
#include "server/answer.hpp"
#include "server/reply.hpp"
#include "server/request.hpp"
#include "server/static_files.hpp"

namespace scribbet {

class Server;

// Where the drawing page is served unless the settings say otherwise.
inline constexpr std::uint16_t defaultServerPort = 3921;

struct ServerOptions {
    std::uint16_t port = defaultServerPort;           // 0 cannot be listened on: the default then
    Duration requestLimit = std::chrono::seconds(30); // to receive one whole request
    Duration retryDelay = std::chrono::seconds(2);    // between failed starts
    int maxRestarts = 15;                             // then give up for good
    // After the reply, how long the client may still send before the connection is
    // closed; closing with unread bytes would reset it and could destroy the reply.
    Duration lingerLimit = std::chrono::seconds(2);
    // The API dispatcher: answers an allowed /api/ request, now or later, from any thread;
    // without one every API request is unknown.
    std::function<void(Server&, const Request&, Answer)> api = nullptr;
    // Told on `main` that requests are coming (at most once per noteInterval while they do);
    // the idle rule counts from it. Without both, nobody is told.
    Queue* main = nullptr;
    std::function<void()> requested = nullptr;
    // How long stop() lets answers under way finish before it closes their connections.
    Duration stopLimit = std::chrono::seconds(3);
    // The most connections held at once; 0: as many as the open-file limit leaves room for.
    // Past it, the connection whose request has been silent longest is closed.
    std::size_t maxConnections = 0;
    // A connection that sent a byte more recently than this is being read: never closed to
    // make room.
    Duration activeRead = std::chrono::seconds(1);
    // Raise the process's open-file soft limit toward the hard one before listening.
    bool raiseDescriptorLimit = true;
};

class Server {
public:
    static constexpr std::uint16_t defaultPort = defaultServerPort;
    static constexpr std::size_t maxRead = 65536; // bytes asked of the socket at a time

    using Options = ServerOptions;

    // Standardizes `web` (see StaticFiles) and starts listening in the background; returns at
    // once.
    explicit Server(std::filesystem::path web, Options options = {});
    // Stops (see stop()).
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Stops listening and closes the connections whose request has not arrived whole, tells
    // each client still waiting for an answer what its Answer holds for a stop (see
    // Answer::onStop), lets the replies be written (for at most stopLimit), then closes
    // everything else and waits for the server's threads to end. Waits for nobody else's
    // work. Not from a task of the server itself.
    void stop();

    // An API dispatcher made of one that answers at once.
    static std::function<void(Server&, const Request&, Answer)> sync(std::function<Reply(Server&, const Request&)> f);

    const std::filesystem::path& web() const { return files_.web(); }
    std::uint16_t port() const { return port_; }

    // ---- Checks; the port is the configured one, not the one actually bound ----
    static bool hostOK(const Request& request, std::uint16_t port);
    static bool originOK(const Request& request, std::uint16_t port);
    static bool sameOrigin(const Request& request, std::uint16_t port);

    // ---- Answering ----
    // What a complete request gets: the host, origin and header checks, then the API or a
    // file. Any thread; called on work for the API, on net for the rest.
    void answer(const Request& request, Answer answer);
    // The same, waiting for the reply (for callers that can wait; the server never does).
    Reply answer(const Request& request);
    // What the API answers for a request it does not know.
    static Reply unknown(const Request& request);

private:
    struct Conn;
    struct Net;
    struct Outgoing;
    struct Door;
    using ConnPtr = std::shared_ptr<Conn>;

    // All on net.
    void start();
    void listening();
    void failed(const std::error_code& ec);
    void retry();
    void acceptNext();
    void restAccepting();
    void outOfDescriptors();
    bool closeLongestSilent();
    void accepted(ConnPtr conn);
    void receive(const ConnPtr& conn);
    void watch(const ConnPtr& conn);
    void received(const ConnPtr& conn);
    void sendContinue(const ConnPtr& conn);
    void write(const ConnPtr& conn, std::shared_ptr<const Outgoing> out);
    void written(const ConnPtr& conn);
    void linger(const ConnPtr& conn);
    void drain(const ConnPtr& conn);
    void close(const ConnPtr& conn);
    void setBusy(Conn& conn, bool busy);
    void quit();
    void tellWaiting();
    void closeAll();

    // On work (API requests) or net (everything else).
    void respond(const Request& request, Answer answer);
    Answer answerFor(const ConnPtr& conn);
    // On net: Idle::lastRequest, set on the main thread.
    void noteRequest();
    void postNote();
    // On net: `reply` written on the connection.
    void send(const ConnPtr& conn, Reply reply);

    const StaticFiles files_;
    const Options options_;
    const std::uint16_t port_;

    // The listener, the connections, the timers and the net thread.
    std::unique_ptr<Net> net_;
    // The way back to net for answers that come from other threads, later; closed at stop().
    std::shared_ptr<Door> door_;
    // Every callback holds the server weakly: the handle ends at stop(), and a callback that
    // comes later does nothing (its connection is closed as it is dropped). Made before the
    // members, as the network thread copies it from the start.
    WeakFactory<Server> factory_{this};
    const std::weak_ptr<Server> weak_;
    std::optional<ConcurrentQueue> work_;
    bool stopped_ = false;

    // Answers under way (taken from the buffer, not yet written), for stop() to wait on.
    std::mutex busyLock_;
    std::condition_variable busyDone_;
    int busy_ = 0;
    bool quit_ = false; // net has stopped taking requests


    // Set while a lastRequest update waits on the main queue; that update takes the time
    // when it runs, so requests in the meantime need none of their own.
    std::shared_ptr<std::atomic<bool>> idleQueued_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace scribbet
