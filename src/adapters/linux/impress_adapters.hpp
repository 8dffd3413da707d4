#pragma once
// LibreOffice Impress as the presentation program: its Scribbet extension (addin/impress/)
// listens inside soffice on a Unix socket and speaks the stand-in's wire (one JSON line a
// request, one an answer; see standin_link.hpp) with its own ops:
//   hello   -> {"host": "impress", "name", "version", "pid", "protocol": 1}
//   macro   {"name", "args", "limit": ms} -> {"errn": 0, "direct"} or {"errn", "errs"}
//   watch   -> the view facts now, then a line each time they change; {"closed": true} when
//              the document's window goes
// View facts: {"seq", "doc", "xid", "origin": [x, y], "window", "pane", "slide": [x, y, w, h],
// "slideW", "slideH", "zoom", "scale", "fit", "slideId", "slideNumber", "label", "view"}, in
// global X pixels after the extension's own check against the X window.
//
// The layer follows Impress through the accessibility port: the extension pushes the view
// facts when Impress's view changes, and the port answers from the latest ones without asking
// anybody, so a layer left alone costs nothing on either side. Window moves give Impress no event;
// the desktop tells where the window is now, and the facts are shifted by how far it went.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/rect.hpp"
#include "ports/accessibility.hpp"
#include "ports/clock.hpp"
#include "ports/input_monitors.hpp"
#include "ports/macro_transport.hpp"

namespace scribbet::linuxhost {

namespace impress {

// SCRIBBET_IMPRESS_SOCKET, else scribbet-impress.sock in $XDG_RUNTIME_DIR, else in the private
// folder scribbet-UID of the temp folder.
std::filesystem::path socketPath();

struct Hello {
    int pid = 0;
    std::string version;
};
// Whether the extension answers at `socket` within `limit`, and from which process.
std::optional<Hello> hello(Duration limit, const std::filesystem::path& socket = socketPath());

// One line of view facts; none when the line is not the facts of a document window.
struct Facts {
    std::int64_t seq = 0;
    std::string doc;
    std::optional<std::uint64_t> xid;
    std::optional<Point> origin;
    Rect window, pane, slide;
    std::string label;
    bool normalView = true;
};
std::optional<Facts> factsFrom(const nlohmann::json& line);
// `facts` moved by how far its window went since they were read: `now` is where the window's
// client area lies now.
Facts shifted(Facts facts, std::optional<Point> now);

} // namespace impress

class ImpressMacroTransport final : public MacroTransport {
public:
    explicit ImpressMacroTransport(std::filesystem::path socket = impress::socketPath());
    MacroEventReply send(const std::string& fullName, const std::vector<std::string>& args,
                         Duration timeout) override;

private:
    const std::filesystem::path socket_;
};

// The extension's view facts as they stream in, on a thread of their own, reconnecting while
// soffice is away. Any thread may read them.
class ImpressView {
public:
    // Where the X window `xid`'s client area lies now, in global points; none when the desktop
    // cannot say.
    using WindowOrigin = std::function<std::optional<Point>(std::uint64_t xid)>;
    // X's pixels, where the facts are measured, as the global points the ports speak; none keeps them.
    using ToPoints = std::function<Rect(const Rect& pixels)>;

    // `answered` is the soffice that answered hello a moment ago, taken as the program's until the
    // stream says otherwise, so that nobody finds Impress missing while the stream connects.
    ImpressView(WindowOrigin origin, ToPoints toPoints, std::filesystem::path socket = impress::socketPath(),
                std::optional<int> answered = std::nullopt);
    ~ImpressView();
    ImpressView(const ImpressView&) = delete;
    ImpressView& operator=(const ImpressView&) = delete;

    // The latest facts, where the window is now, in global points; none without a document window
    // or extension.
    std::optional<impress::Facts> facts() const;
    // The soffice process the extension answered from, while it answers.
    std::optional<int> pid() const;
    // Each line of facts, and the stream's end, on the view's own thread. The view must outlive
    // the subscription.
    Subscription onChange(std::function<void()> handler);

private:
    void run();
    void stream();
    bool sleepFor(Duration d);
    void tell();

    const WindowOrigin origin_;
    const ToPoints toPoints_;
    const std::filesystem::path socket_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<impress::Facts> facts_;
    std::optional<int> pid_;
    bool stop_ = false;
    std::map<int, std::function<void()>> handlers_;
    int nextHandler_ = 0;
    std::thread thread_;
};

// Impress's slide editor as the accessibility port shows a program's: the application, its
// document window, the edit view as the slide editor's scroll area, the document in it (the slide
// with the margins a slide editor keeps) and the slide itself. Made afresh from the latest facts
// at every question, so it follows the view the moment the facts arrive.
class ImpressAccessibility final : public Accessibility {
public:
    explicit ImpressAccessibility(ImpressView& view) : view_(view) {}
    // Impress is read through its own extension: nothing to grant, only the extension to reach.
    bool trusted() const override;
    bool promptForTrust() override { return trusted(); }
    AXRef application(int pid) override;
    std::optional<AXValue> attribute(const AXRef& element, const std::string& name) override;
    // Impress's view is not moved from outside.
    bool setNumber(const AXRef&, const std::string&, double) override { return false; }
    void setMessagingTimeout(const AXRef&, double) override {}
    bool equal(const AXRef& a, const AXRef& b) const override;
    // Every view change reaches Scribbet as a line from the extension.
    bool tellsChanges() const override { return true; }
    Subscription onChange(std::function<void()> handler) override { return view_.onChange(std::move(handler)); }

private:
    ImpressView& view_;
};

} // namespace scribbet::linuxhost
