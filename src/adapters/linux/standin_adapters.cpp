#include "adapters/linux/standin_adapters.hpp"

#include <map>

#include "adapters/linux/standin_link.hpp"
#include "base/text.hpp"
#include "app/host.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"

namespace scribbet::linuxhost {

using nlohmann::json;
using standin::Answer;

namespace {
std::optional<Rect> rectFrom(const json& v) {
    if (!v.is_array() || v.size() != 4) return std::nullopt;
    for (const auto& n : v) {
        if (!n.is_number()) return std::nullopt;
    }
    return Rect{v[0].get<double>(), v[1].get<double>(), v[2].get<double>(), v[3].get<double>()};
}

std::optional<int> intFrom(const json& v) {
    if (!v.is_number_integer()) return std::nullopt;
    return v.get<int>();
}

std::optional<std::string> textFrom(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}
} // namespace

MacroFailure macroFailureOf(int number, std::optional<std::string> message) {
    using Kind = MacroFailureKind;
    static const std::map<int, Kind> kinds = {
        {-600, Kind::notRunning},   // the application is not running
        {-609, Kind::notRunning},   // the connection is invalid: it quit during the call
        {-903, Kind::notRunning},   // no user interaction and not running
        {-10661, Kind::notRunning}, // the process is gone
        {-128, Kind::cancelled},
        {-1712, Kind::timedOut},
        {-1743, Kind::denied},      // not permitted to send Apple events
        {-1744, Kind::denied},      // the user would have to consent first
        {-1708, Kind::notHandled},  // the event was not handled: no such macro
        {-18, Kind::notHandled},
    };
    Kind kind = Kind::other;
    if (const auto it = kinds.find(number); it != kinds.end()) {
        kind = it->second;
    } else if (message && text::lowercased(*message).find("macro") != std::string::npos) {
        kind = Kind::notHandled; // the program's own words for a macro it cannot find
    }
    return {kind, number, std::move(message)};
}

MacroEventReply StandinMacroTransport::send(const std::string& fullName, const std::vector<std::string>& args,
                                            Duration timeout) {
    const Answer a = standin::call({{"op", "macro"}, {"name", fullName}, {"args", args}}, timeout);
    MacroEventReply r;
    switch (a.failure) {
    case Answer::Failure::noStandIn:
        r.failure = macroFailureOf(-600, "Application isn't running.");
        return r;
    case Answer::Failure::timedOut:
        r.failure = macroFailureOf(-1712, "AppleEvent timed out.");
        return r;
    case Answer::Failure::broken:
        r.failure = macroFailureOf(-609, "Connection is invalid.");
        return r;
    case Answer::Failure::none:
        break;
    }
    if (const auto n = intFrom(a.body.value("errn", json())); n && *n != 0) {
        r.failure = macroFailureOf(*n, textFrom(a.body, "errs"));
        return r;
    }
    r.direct = textFrom(a.body, "direct");
    return r;
}

std::optional<std::vector<WindowInfo>> StandinWindowList::onScreenWindows() const {
    const Answer a = standin::call({{"op", "windows"}}, quickLimit);
    if (!a.ok()) return std::nullopt;
    auto it = a.body.find("windows");
    if (it == a.body.end() || !it->is_array()) return std::nullopt;
    std::vector<WindowInfo> out;
    for (const auto& w : *it) {
        if (!w.is_object()) continue;
        out.push_back({intFrom(w.value("pid", json())), intFrom(w.value("layer", json())),
                       rectFrom(w.value("bounds", json()))});
    }
    return out;
}

struct StandinWorkspace::Watch {
    explicit Watch(MainQueue& q) : main(q) {}
    MainQueue& main;
    CallbackList<void()> activate;
    CallbackList<void(const std::optional<std::string>&)> terminate;
    Timer timer;
    std::optional<std::string> front;
    bool running = false;

    void look() {
        // Nobody listens any more: the stand-in is not asked again until someone does.
        if (activate.empty() && terminate.empty()) return timer.cancel();
        const Answer f = standin::call({{"op", "front"}}, quickLimit);
        const Answer r = standin::call({{"op", "running"}, {"bundle", Host::current().programId}}, quickLimit);
        std::optional<std::string> nowFront = f.ok() ? textFrom(f.body, "bundle") : std::nullopt;
        const bool nowRunning = r.ok() && r.body.value("running", false);
        if (running && !nowRunning) terminate.notify(Host::current().programId);
        running = nowRunning;
        if (nowFront != front) {
            front = nowFront;
            activate.notify();
        }
    }
    void startIfNeeded(const std::shared_ptr<Watch>& self) {
        if (timer.isActive()) return;
        look();
        timer = main.repeating(std::chrono::milliseconds(250), weakly(self, [](Watch& w) { w.look(); }));
    }
};

StandinWorkspace::StandinWorkspace(MainQueue& main) : watch_(std::make_shared<Watch>(main)) {}
StandinWorkspace::~StandinWorkspace() = default;

std::optional<int> StandinWorkspace::runningProcess(const std::string& bundleId) const {
    const Answer a = standin::call({{"op", "running"}, {"bundle", bundleId}}, quickLimit);
    if (!a.ok() || !a.body.value("running", false)) return std::nullopt;
    return intFrom(a.body.value("pid", json()));
}

void StandinWorkspace::activate(const std::string& bundleId) {
    standin::call({{"op", "activate"}, {"bundle", bundleId}}, quickLimit);
}

std::optional<FrontApp> StandinWorkspace::frontApplication() const {
    const Answer a = standin::call({{"op", "front"}}, quickLimit);
    if (!a.ok()) return std::nullopt;
    const auto bundle = textFrom(a.body, "bundle");
    if (!bundle) return std::nullopt;
    return FrontApp{bundle, *bundle == selfBundleId};
}

void StandinWorkspace::openURL(const std::string& url) {
    standin::call({{"op", "open"}, {"url", url}}, quickLimit);
}

Subscription StandinWorkspace::onActivate(std::function<void()> handler) {
    auto subscription = watch_->activate.add(std::move(handler));
    watch_->startIfNeeded(watch_);
    return subscription;
}

Subscription StandinWorkspace::onTerminate(std::function<void(const std::optional<std::string>&)> handler) {
    auto subscription = watch_->terminate.add(std::move(handler));
    watch_->startIfNeeded(watch_);
    return subscription;
}

std::optional<ScriptResult> StandinScriptRunner::run(const std::string& source) {
    // The stand-in answers at once; AppleScript's own limits (up to 120 s) never apply.
    const Answer a = standin::call({{"op", "script"}, {"source", source}}, std::chrono::seconds(10));
    if (!a.ok() || !a.body.value("ok", false)) return std::nullopt;
    const json result = a.body.value("result", json());
    if (result.is_boolean()) return ScriptResult{result.get<bool>()};
    if (result.is_string()) return ScriptResult{result.get<std::string>()};
    return ScriptResult{};
}

} // namespace scribbet::linuxhost

namespace scribbet::linuxhost {

namespace {
class StandinElement final : public AXElement {
public:
    explicit StandinElement(std::string id) : id(std::move(id)) {}
    std::string id;
};

AXRef element(const json& id) {
    if (!id.is_string()) return nullptr;
    return std::make_shared<StandinElement>(id.get<std::string>());
}

const std::string* idOf(const AXRef& e) {
    const auto* s = dynamic_cast<const StandinElement*>(e.get());
    return s ? &s->id : nullptr;
}

std::optional<AXValue> decode(const json& v) {
    if (v.is_boolean()) return AXValue{v.get<bool>()};
    if (v.is_number()) return AXValue{v.get<double>()};
    if (v.is_string()) return AXValue{v.get<std::string>()};
    if (!v.is_object()) return std::nullopt;
    auto pair = [&](const char* key) -> std::optional<std::pair<double, double>> {
        auto it = v.find(key);
        if (it == v.end() || !it->is_array() || it->size() != 2 || !(*it)[0].is_number() || !(*it)[1].is_number()) {
            return std::nullopt;
        }
        return std::make_pair((*it)[0].get<double>(), (*it)[1].get<double>());
    };
    if (auto p = pair("point")) return AXValue{AXPoint{p->first, p->second}};
    if (auto p = pair("size")) return AXValue{AXSize{p->first, p->second}};
    if (auto it = v.find("element"); it != v.end() && it->is_string()) return AXValue{element(*it)};
    if (auto it = v.find("elements"); it != v.end() && it->is_array()) {
        std::vector<AXRef> out;
        for (const auto& id : *it) {
            if (auto e = element(id)) out.push_back(e);
        }
        return AXValue{out};
    }
    return std::nullopt;
}

std::optional<ScreenInfo> screenFrom(const json& s, double primaryHeight) {
    if (!s.is_object()) return std::nullopt;
    auto frame = rectFrom(s.value("frame", json()));
    auto visible = rectFrom(s.value("visible", json()));
    if (!frame) return std::nullopt;
    if (!visible) visible = frame;
    auto flip = [&](const Rect& r) { return Rect{r.x, primaryHeight - (r.y + r.h), r.w, r.h}; };
    const json scale = s.value("scale", json(1.0));
    return ScreenInfo{flip(*frame), flip(*visible), scale.is_number() ? scale.get<double>() : 1.0};
}

std::vector<ScreenInfo> readScreens(int* mainIndex) {
    const Answer a = standin::call({{"op", "screens"}}, quickLimit);
    std::vector<ScreenInfo> out;
    if (!a.ok()) return out;
    const json list = a.body.value("screens", json::array());
    if (!list.is_array() || list.empty()) return out;
    const auto primary = rectFrom(list[0].value("frame", json()));
    if (!primary) return out;
    for (const auto& s : list) {
        if (auto info = screenFrom(s, primary->h)) out.push_back(*info);
    }
    if (mainIndex) {
        const json m = a.body.value("main", json(0));
        *mainIndex = m.is_number_integer() ? m.get<int>() : 0;
    }
    return out;
}
} // namespace

std::vector<ScreenInfo> StandinScreens::screens() const { return readScreens(nullptr); }

std::optional<ScreenInfo> StandinScreens::mainScreen() const {
    int index = 0;
    const auto all = readScreens(&index);
    if (all.empty()) return std::nullopt;
    return all[index >= 0 && static_cast<std::size_t>(index) < all.size() ? index : 0];
}

Duration StandinAccessibility::limit() const { return std::chrono::microseconds(timeoutMicros_.load()); }

bool StandinAccessibility::trusted() const {
    const Answer a = standin::call({{"op", "ax.trusted"}}, quickLimit);
    return a.ok() && a.body.value("trusted", false);
}

bool StandinAccessibility::promptForTrust() {
    const Answer a = standin::call({{"op", "ax.prompt"}}, quickLimit);
    return a.ok() && a.body.value("trusted", false);
}

AXRef StandinAccessibility::application(int pid) {
    const Answer a = standin::call({{"op", "ax.app"}, {"pid", pid}}, quickLimit);
    if (!a.ok()) return nullptr;
    return element(a.body.value("element", json()));
}

std::optional<AXValue> StandinAccessibility::attribute(const AXRef& e, const std::string& name) {
    const std::string* id = idOf(e);
    if (!id) return std::nullopt;
    const Answer a = standin::call({{"op", "ax.attr"}, {"element", *id}, {"name", name}}, limit());
    if (!a.ok()) return std::nullopt;
    auto it = a.body.find("value");
    if (it == a.body.end()) return std::nullopt;
    return decode(*it);
}

bool StandinAccessibility::setNumber(const AXRef& e, const std::string& name, double value) {
    const std::string* id = idOf(e);
    if (!id) return false;
    const Answer a = standin::call({{"op", "ax.set"}, {"element", *id}, {"name", name}, {"value", value}}, limit());
    return a.ok() && a.body.value("ok", false);
}

// The socket round trip stands in for the system's messaging; its limit is the same for
// every element, which is how the reader sets it anyway.
void StandinAccessibility::setMessagingTimeout(const AXRef&, double seconds) {
    if (seconds > 0 && seconds < 3600) timeoutMicros_ = static_cast<std::int64_t>(seconds * 1e6);
}

bool StandinAccessibility::equal(const AXRef& a, const AXRef& b) const {
    const std::string *x = idOf(a), *y = idOf(b);
    return x && y && *x == *y;
}

} // namespace scribbet::linuxhost
