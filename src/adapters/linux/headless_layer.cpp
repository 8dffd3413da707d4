#include "adapters/linux/headless_layer.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "app/whole_number.hpp"
#include "log/app_state.hpp"
#include "runtime/queues.hpp"

namespace scribbet::linuxhost {

namespace {
int msLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), 1 << 30)));
}
} // namespace

HttpWebView::Response HttpWebView::fetch(const std::string& url, Duration timeout) {
    const std::string prefix = "http://127.0.0.1:";
    if (url.rfind(prefix, 0) != 0) return {0, "unsupported URL"};
    const std::size_t slash = url.find('/', prefix.size());
    const std::string portText = url.substr(prefix.size(), slash - prefix.size());
    const std::string target = slash == std::string::npos ? "/" : url.substr(slash);
    const auto port = whole::integer<int>(portText, whole::Sign::none);
    if (!port) return {0, "unsupported URL"};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {0, std::strerror(errno)};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(*port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return {0, "Could not connect to the server."};
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + portText +
                                "\r\nAccept: text/html\r\nConnection: close\r\n\r\n";
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string head;
    char buf[4096];
    while (head.find("\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0) {
            ::close(fd);
            return {0, "The request timed out."};
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    int status = 0;
    if (std::sscanf(head.c_str(), "HTTP/1.%*d %d", &status) != 1 || status <= 0) {
        return {0, "The network connection was lost."};
    }
    return {status, ""};
}

HttpWebView::~HttpWebView() { ++generation_; }

void HttpWebView::load(const std::string& url, Duration timeout) {
    url_ = url;
    timeout_ = timeout;
    start();
}

void HttpWebView::reload() { start(); }

void HttpWebView::start() {
    const int generation = ++generation_;
    std::weak_ptr<HttpWebView> weak = shared_from_this();
    std::thread([weak, url = url_, timeout = timeout_, generation] {
        const Response r = fetch(url, timeout);
        MainQueue::shared().async([weak, r, generation] {
            auto self = weak.lock();
            if (!self || self->detached_ || self->generation_ != generation) return;
            auto events = self->events_.lock();
            if (!events) return;
            if (r.status > 0) {
                events->allowResponse(*self, true, r.status, true);
            } else {
                events->loadFailed(*self, {PageLoadFailureKind::other, r.errorDescription});
            }
        });
    }).detach();
}

void HttpWebView::stopLoading() { ++generation_; }

void HttpWebView::evaluate(const std::string&, std::function<void(EvalResult)> completion) {
    if (!completion) return;
    MainQueue::shared().async([completion = std::move(completion)] {
        completion(EvalResult{std::monostate{}, std::string("No script engine in the headless layer.")});
    });
}

void HttpWebView::detach() { detached_ = true; }

NoticeUI::Size LoggedNotices::measure(const std::string& text) {
    return {std::min(7.0 * static_cast<double>(text.size()), 440.0), 17};
}

void LoggedNotices::show(const std::string& text, const Rect&, const Rect&, std::function<void()>) {
    log("Notice: " + text);
}

} // namespace scribbet::linuxhost
