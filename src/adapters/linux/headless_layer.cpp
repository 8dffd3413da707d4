#include "adapters/linux/headless_layer.hpp"

#include <cstdio>

#include "adapters/linux/local_socket.hpp"
#include "app/whole_number.hpp"
#include "log/app_state.hpp"
#include "runtime/queues.hpp"

namespace scribbet::linuxhost {

HttpWebView::Response HttpWebView::fetch(const std::string& url, Duration timeout) {
    const std::string prefix = "http://127.0.0.1:";
    if (url.rfind(prefix, 0) != 0) return {0, "unsupported URL"};
    const std::size_t slash = url.find('/', prefix.size());
    const std::string portText = url.substr(prefix.size(), slash - prefix.size());
    const std::string target = slash == std::string::npos ? "/" : url.substr(slash);
    const auto port = whole::integer<int>(portText, whole::Sign::none);
    if (!port) return {0, "unsupported URL"};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    LocalSocket wire;
    const auto connected = wire.connect(static_cast<std::uint16_t>(*port), deadline);
    if (connected.step == LocalSocket::Step::timedOut) return {0, "The request timed out."};
    if (!connected.ok()) return {0, "Could not connect to the server."};
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + portText +
                                "\r\nAccept: text/html\r\nConnection: close\r\n\r\n";
    // Whether it all went is told by the answer, or by its absence.
    wire.send(request, deadline);
    std::string head;
    const auto statusLine = [](const std::string& so) { return so.find("\r\n") != std::string::npos; };
    if (wire.receive(head, deadline, statusLine).step == LocalSocket::Step::timedOut) {
        return {0, "The request timed out."};
    }
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
    fetches_.async([weak, &main = main_, url = url_, timeout = timeout_, generation] {
        const Response r = fetch(url, timeout);
        main.async([weak, r, generation] {
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
    });
}

void HttpWebView::stopLoading() { ++generation_; }

void HttpWebView::evaluate(const std::string&, std::function<void(EvalResult)> completion) {
    if (!completion) return;
    main_.async([completion = std::move(completion)] {
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
