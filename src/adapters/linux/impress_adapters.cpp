#include "adapters/linux/impress_adapters.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "adapters/linux/local_socket.hpp"
#include "adapters/linux/standin_adapters.hpp"
#include "adapters/linux/standin_link.hpp"

namespace scribbet::linuxhost {

using nlohmann::json;

namespace impress {

namespace {
std::optional<Rect> rectOf(const json& v) {
    if (!v.is_array() || v.size() != 4) return std::nullopt;
    double n[4];
    for (int i = 0; i < 4; ++i) {
        if (!v[i].is_number() || !std::isfinite(v[i].get<double>())) return std::nullopt;
        n[i] = v[i].get<double>();
    }
    if (n[2] < 0 || n[3] < 0) return std::nullopt;
    return Rect{n[0], n[1], n[2], n[3]};
}

std::optional<Point> pointOf(const json& v) {
    if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number()) return std::nullopt;
    const double x = v[0].get<double>(), y = v[1].get<double>();
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    return Point{x, y};
}

Rect moved(Rect r, double dx, double dy) { return {r.x + dx, r.y + dy, r.w, r.h}; }
} // namespace

std::filesystem::path socketPath() {
    if (const char* s = std::getenv("SCRIBBET_IMPRESS_SOCKET"); s && *s) return s;
    return socketPlace("scribbet-impress.sock",
                       std::filesystem::path("scribbet-" + std::to_string(::getuid())) / "scribbet-impress.sock")
        .path;
}

std::optional<Hello> hello(Duration limit, const std::filesystem::path& socket) {
    const auto a = standin::call({{"op", "hello"}}, limit, socket);
    if (!a.ok() || a.body.value("host", json()) != "impress") return std::nullopt;
    const json pid = a.body.value("pid", json());
    if (!pid.is_number_integer() || pid.get<std::int64_t>() <= 0) return std::nullopt;
    const json version = a.body.value("version", json());
    return Hello{static_cast<int>(pid.get<std::int64_t>()), version.is_string() ? version.get<std::string>() : ""};
}

std::optional<Facts> factsFrom(const json& line) {
    if (!line.is_object() || !line.value("doc", json()).is_string()) return std::nullopt;
    Facts f;
    const auto window = rectOf(line.value("window", json()));
    const auto pane = rectOf(line.value("pane", json()));
    const auto slide = rectOf(line.value("slide", json()));
    if (!window || !pane || !slide) return std::nullopt;
    f.window = *window;
    f.pane = *pane;
    f.slide = *slide;
    f.doc = line["doc"].get<std::string>();
    if (const json seq = line.value("seq", json()); seq.is_number_integer()) f.seq = seq.get<std::int64_t>();
    if (const json xid = line.value("xid", json()); xid.is_number_integer() && xid.get<std::int64_t>() > 0) {
        f.xid = xid.get<std::uint64_t>();
    }
    f.origin = pointOf(line.value("origin", json()));
    if (const json label = line.value("label", json()); label.is_string()) f.label = label.get<std::string>();
    f.normalView = line.value("view", json("normal")) == "normal";
    return f;
}

Facts shifted(Facts f, std::optional<Point> now) {
    if (!now || !f.origin) return f;
    const double dx = now->x - f.origin->x, dy = now->y - f.origin->y;
    if (dx == 0 && dy == 0) return f;
    f.window = moved(f.window, dx, dy);
    f.pane = moved(f.pane, dx, dy);
    f.slide = moved(f.slide, dx, dy);
    f.origin = now;
    return f;
}

} // namespace impress

// ---- macros ----

ImpressMacroTransport::ImpressMacroTransport(std::filesystem::path socket) : socket_(std::move(socket)) {}

MacroEventReply ImpressMacroTransport::send(const std::string& fullName, const std::vector<std::string>& args,
                                            Duration timeout) {
    using Failure = standin::Answer::Failure;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
    // The extension gives up a little before the caller does, so that its own answer ("did not
    // answer in time") comes back rather than a broken wait.
    const auto limit = std::max<std::int64_t>(100, ms - std::min<std::int64_t>(ms / 10, 500));
    const auto a = standin::call({{"op", "macro"}, {"name", fullName}, {"args", args}, {"limit", limit}}, timeout,
                                 socket_);
    MacroEventReply r;
    switch (a.failure) {
    case Failure::noStandIn:
        r.failure = macroFailureOf(-600, "Impress's Scribbet extension is not listening.");
        return r;
    case Failure::timedOut:
        r.failure = macroFailureOf(-1712, "Impress did not answer in time.");
        return r;
    case Failure::broken:
        r.failure = macroFailureOf(-609, "The connection to Impress broke.");
        return r;
    case Failure::none:
        break;
    }
    const json errn = a.body.value("errn", json());
    if (!errn.is_number_integer()) {
        r.failure = macroFailureOf(-609, "Impress's extension answered something else.");
        return r;
    }
    if (errn.get<int>() != 0) {
        const json errs = a.body.value("errs", json());
        r.failure = macroFailureOf(errn.get<int>(), errs.is_string() ? std::optional(errs.get<std::string>())
                                                                     : std::nullopt);
        return r;
    }
    if (const json direct = a.body.value("direct", json()); direct.is_string()) r.direct = direct.get<std::string>();
    return r;
}

// ---- the view's stream ----

namespace {
constexpr auto retryPause = std::chrono::seconds(1);
constexpr auto readSlice = std::chrono::milliseconds(250);
constexpr std::size_t maxLine = 1u << 20; // facts are a few hundred bytes
} // namespace

ImpressView::ImpressView(WindowOrigin origin, ToPoints toPoints, std::filesystem::path socket,
                         std::optional<int> answered)
    : origin_(std::move(origin)), toPoints_(std::move(toPoints)), socket_(std::move(socket)), pid_(answered),
      thread_([this] { run(); }) {}

ImpressView::~ImpressView() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::optional<impress::Facts> ImpressView::facts() const {
    std::optional<impress::Facts> f;
    {
        std::lock_guard lock(mutex_);
        f = facts_;
    }
    if (!f) return f;
    if (toPoints_) {
        f->window = toPoints_(f->window);
        f->pane = toPoints_(f->pane);
        f->slide = toPoints_(f->slide);
        if (f->origin) {
            const Rect o = toPoints_({f->origin->x, f->origin->y, 0, 0});
            f->origin = Point{o.x, o.y};
        }
    }
    if (f->xid && origin_) f = impress::shifted(*f, origin_(*f->xid));
    return f;
}

Subscription ImpressView::onChange(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    const int id = nextHandler_++;
    handlers_.emplace(id, std::move(handler));
    return Subscription([this, id] {
        std::lock_guard lock(mutex_);
        handlers_.erase(id);
    });
}

// Called without the lock: a handler may ask for the facts.
void ImpressView::tell() {
    std::vector<std::function<void()>> now;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, h] : handlers_) now.push_back(h);
    }
    for (const auto& h : now) h();
}

std::optional<int> ImpressView::pid() const {
    std::lock_guard lock(mutex_);
    return pid_;
}

bool ImpressView::sleepFor(Duration d) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, d, [this] { return stop_; });
}

void ImpressView::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
        }
        stream();
        {
            std::lock_guard lock(mutex_);
            facts_.reset();
            pid_.reset();
        }
        tell();
        if (!sleepFor(retryPause)) return;
    }
}

void ImpressView::stream() {
    const auto hi = impress::hello(std::chrono::seconds(2), socket_);
    if (!hi) return;
    LocalSocket wire;
    using Steady = std::chrono::steady_clock;
    if (!fitsSocketAddress(socket_) || !wire.connect(socket_, Steady::now() + std::chrono::seconds(2)).ok()) return;
    if (!wire.send("{\"op\":\"watch\"}\n", Steady::now() + std::chrono::seconds(2)).ok()) return;
    {
        std::lock_guard lock(mutex_);
        pid_ = hi->pid;
    }
    std::string buffer;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
        }
        const auto got = wire.receive(buffer, Steady::now() + readSlice,
                                      [](const std::string& s) { return s.find('\n') != std::string::npos; });
        // Done without a whole line: the extension ended the stream.
        const bool ended = got.ok() && buffer.find('\n') == std::string::npos;
        bool changed = false;
        for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
            const json line = json::parse(buffer.substr(0, end), nullptr, false);
            buffer.erase(0, end + 1);
            if (!line.is_object()) continue;
            std::lock_guard lock(mutex_);
            if (line.value("closed", false) || line.contains("doc")) {
                facts_ = impress::factsFrom(line);
                changed = true;
            }
        }
        if (changed) tell();
        if (buffer.size() > maxLine) return;
        if (got.step == LocalSocket::Step::timedOut) continue;
        if (!got.ok()) return;
        if (ended) return;
    }
}

// ---- the slide editor as accessibility elements ----

namespace {
struct Element final : AXElement {
    explicit Element(std::string i) : id(std::move(i)) {}
    std::string id;
};

const std::string* idOf(const AXRef& e) {
    const auto* el = dynamic_cast<const Element*>(e.get());
    return el ? &el->id : nullptr;
}

AXRef make(const char* id) { return std::make_shared<const Element>(id); }

// A slide editor keeps this margin of document round the slide.
constexpr double margin = 18;

std::optional<AXValue> frameAttribute(const Rect& r, const std::string& name) {
    if (name == "AXPosition") return AXValue{AXPoint{r.x, r.y}};
    if (name == "AXSize") return AXValue{AXSize{r.w, r.h}};
    return std::nullopt;
}
} // namespace

bool ImpressAccessibility::trusted() const { return view_.pid().has_value(); }

AXRef ImpressAccessibility::application(int pid) {
    if (view_.pid() != pid) return nullptr;
    return make("app");
}

std::optional<AXValue> ImpressAccessibility::attribute(const AXRef& element, const std::string& name) {
    const std::string* id = idOf(element);
    if (!id) return std::nullopt;
    const auto f = view_.facts();
    if (*id == "app") {
        if (name == "AXRole") return AXValue{std::string("AXApplication")};
        if (!f) return name == "AXWindows" ? std::optional(AXValue{std::vector<AXRef>{}}) : std::nullopt;
        if (name == "AXWindows") return AXValue{std::vector<AXRef>{make("win")}};
        if (name == "AXFocusedWindow") return AXValue{make("win")};
        return std::nullopt;
    }
    // The window's parts exist only while there is a document window; the editor's only in the
    // drawing view.
    if (!f) return std::nullopt;
    if (*id == "win") {
        if (name == "AXRole") return AXValue{std::string("AXWindow")};
        if (name == "AXChildren") {
            return AXValue{f->normalView ? std::vector<AXRef>{make("editor")} : std::vector<AXRef>{}};
        }
        return frameAttribute(f->window, name);
    }
    if (!f->normalView) return std::nullopt;
    if (*id == "editor") {
        if (name == "AXRole") return AXValue{std::string("AXScrollArea")};
        if (name == "AXChildren") return AXValue{std::vector<AXRef>{make("doc")}};
        return frameAttribute(f->pane, name);
    }
    if (*id == "doc") {
        if (name == "AXRole") return AXValue{std::string("AXLayoutArea")};
        if (name == "AXDescription") return AXValue{f->label};
        if (name == "AXChildren") return AXValue{std::vector<AXRef>{make("slide")}};
        return frameAttribute(f->slide.grown(margin), name);
    }
    if (*id == "slide") {
        if (name == "AXRole") return AXValue{std::string("AXGroup")};
        if (name == "AXDescription") return AXValue{std::string("Slide")};
        if (name == "AXChildren") return AXValue{std::vector<AXRef>{}};
        return frameAttribute(f->slide, name);
    }
    return std::nullopt;
}

bool ImpressAccessibility::equal(const AXRef& a, const AXRef& b) const {
    const std::string *x = idOf(a), *y = idOf(b);
    return x && y && *x == *y;
}

} // namespace scribbet::linuxhost
