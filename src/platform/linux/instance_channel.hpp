#pragma once
// One Scribbet per user: the running instance listens on a Unix socket, and a second start
// hands its links (or a reopen) to it and leaves. Messages are NUL-terminated: "L" and a
// link, or "R" for opening the application again.
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace scribbet::linuxhost {

class InstanceChannel {
public:
    using Handler = std::function<void(const std::string& message)>;

    // $XDG_RUNTIME_DIR/scribbet.sock, else scribbet-UID.sock in the temp folder.
    static std::filesystem::path defaultPath();
    static std::string linkMessage(const std::string& link) { return "L" + link; }
    static std::string reopenMessage() { return "R"; }

    // Sends the messages to the instance listening at `path` and waits until it has read
    // them; false when nobody listens there.
    static bool handOff(const std::filesystem::path& path, const std::vector<std::string>& messages);

    // Listens at `path`, taking over a socket left by a crashed instance. False when a
    // live instance holds it. The handler runs on the channel's own thread.
    bool listen(const std::filesystem::path& path, Handler handler);
    void stop();
    ~InstanceChannel();

private:
    void serve();
    std::filesystem::path path_;
    Handler handler_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace scribbet::linuxhost
