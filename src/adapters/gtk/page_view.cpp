#include "adapters/gtk/page_view.hpp"

#include <webkit2/webkit2.h>

#include <cmath>
#include <cstdint>
#include <map>

#include "runtime/weak.hpp"

namespace scribbet::gtkhost {

using nlohmann::json;

namespace {
// One context for every layer, so one network process serves every layer opened meanwhile.
// Its website data lives on disk: the page keeps an unplaced drawing in its local storage and
// offers it back when a layer opens on that slide again, after Scribbet started anew. The
// document-viewer cache model keeps no disk cache, so the page is still read fresh each time.
WebKitWebContext* layerContext() {
    static WebKitWebContext* context = [] {
        const std::string data = pageDataDirectory().string(), cache = pageCacheDirectory().string();
        WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
            "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
        WebKitWebContext* c = webkit_web_context_new_with_website_data_manager(manager);
        g_object_unref(manager); // the context holds its own reference
        webkit_web_context_set_cache_model(c, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        return c;
    }();
    return context;
}

// Two helpers in the value's own context. JavaScriptCore writes a text as UTF-8 only up to
// its first lone surrogate, so texts are made well-formed there first (a lone surrogate
// becomes U+FFFD); and an object's members are read as JSON.stringify reads them, its own
// enumerable text-keyed ones, with keys that may hold lone surrogates too.
struct ScriptHelpers {
    JSCValue* text = nullptr;
    JSCValue* entries = nullptr;

    static ScriptHelpers& of(JSCContext* context) {
        static const char* key = "scribbet-script-helpers";
        if (auto* h = static_cast<ScriptHelpers*>(g_object_get_data(G_OBJECT(context), key))) return *h;
        auto* h = new ScriptHelpers;
        JSCValue* both = jsc_context_evaluate(
            context,
            "({text: (s) => typeof s.toWellFormed === 'function' ? s.toWellFormed() : "
            "s.replace(/[\\uD800-\\uDBFF](?![\\uDC00-\\uDFFF])|(?<![\\uD800-\\uDBFF])[\\uDC00-\\uDFFF]/g, '\\uFFFD'), "
            "entries: (o) => Object.entries(o)})",
            -1);
        if (both && jsc_value_is_object(both)) {
            h->text = jsc_value_object_get_property(both, "text");
            h->entries = jsc_value_object_get_property(both, "entries");
        }
        if (both) g_object_unref(both);
        jsc_context_clear_exception(context);
        g_object_set_data_full(G_OBJECT(context), key, h, +[](gpointer p) {
            auto* gone = static_cast<ScriptHelpers*>(p);
            if (gone->text) g_object_unref(gone->text);
            if (gone->entries) g_object_unref(gone->entries);
            delete gone;
        });
        return *h;
    }

    // The helper's answer for `arg`, or none when it has none to give.
    static JSCValue* call(JSCValue* helper, JSCValue* arg) {
        if (!helper || !jsc_value_is_function(helper)) return nullptr;
        JSCValue* out = jsc_value_function_call(helper, JSC_TYPE_VALUE, arg, G_TYPE_NONE);
        jsc_context_clear_exception(jsc_value_get_context(arg));
        return out;
    }
};

// A script value taken apart as it is, not through JSON: JSON has no infinity and no NaN
// (they become null, and the numbers after them move up) and its parsers refuse a text with
// a lone surrogate. Numbers keep every value a double holds, texts come as valid UTF-8.
// Otherwise it reads as JSON.stringify would: undefined and functions are left out of
// objects and are null in arrays. A structured clone may be cyclic, so the walk has a depth
// and a size: a value deeper than the depth is null where it stands (a log line with one odd
// member keeps its text), and past the size the whole value is null, since a value read only
// in part must not pass for the whole of it.
class ValueWalk {
public:
    json top(JSCValue* value) {
        json out = of(value, 0);
        return overflowed_ ? json() : out;
    }

private:
    static constexpr int maxDepth = 64;
    static constexpr long maxValues = 100'000;

    static bool absent(JSCValue* v) { return !v || jsc_value_is_undefined(v) || jsc_value_is_function(v); }

    static json number(double d) {
        // Whole numbers as integers, as a JSON reader would give them.
        if (std::trunc(d) == d && std::abs(d) <= 9007199254740992.0 && !(d == 0 && std::signbit(d))) {
            return static_cast<std::int64_t>(d);
        }
        return d;
    }

    static std::string text(JSCValue* v) {
        JSCValue* fixed = ScriptHelpers::call(ScriptHelpers::of(jsc_value_get_context(v)).text, v);
        gchar* raw = jsc_value_to_string(fixed && jsc_value_is_string(fixed) ? fixed : v);
        if (fixed) g_object_unref(fixed);
        if (!raw) return "";
        gchar* valid = g_utf8_make_valid(raw, -1);
        std::string out(valid);
        g_free(valid);
        g_free(raw);
        return out;
    }

    // Owns the JSCValue a property read hands over.
    json owned(JSCValue* v, int depth) {
        json out = of(v, depth);
        if (v) g_object_unref(v);
        return out;
    }

    std::size_t length(JSCValue* array) {
        JSCValue* n = jsc_value_object_get_property(array, "length");
        const double d = n && jsc_value_is_number(n) ? jsc_value_to_double(n) : 0;
        if (n) g_object_unref(n);
        return d > 0 ? static_cast<std::size_t>(std::min(d, 4294967295.0)) : 0;
    }

    json array(JSCValue* v, int depth) {
        json out = json::array();
        const std::size_t n = length(v);
        for (std::size_t i = 0; i < n && !overflowed_; ++i) {
            out.push_back(owned(jsc_value_object_get_property_at_index(v, static_cast<guint>(i)), depth + 1));
        }
        return out;
    }

    json object(JSCValue* v, int depth) {
        json out = json::object();
        JSCValue* entries = ScriptHelpers::call(ScriptHelpers::of(jsc_value_get_context(v)).entries, v);
        if (!entries || !jsc_value_is_array(entries)) {
            if (entries) g_object_unref(entries);
            return out;
        }
        const std::size_t n = length(entries);
        for (std::size_t i = 0; i < n && !overflowed_; ++i) {
            JSCValue* pair = jsc_value_object_get_property_at_index(entries, static_cast<guint>(i));
            JSCValue* key = jsc_value_object_get_property_at_index(pair, 0);
            JSCValue* member = jsc_value_object_get_property_at_index(pair, 1);
            if (absent(member)) {
                if (member) g_object_unref(member);
            } else {
                out[text(key)] = owned(member, depth + 1);
            }
            g_object_unref(key);
            g_object_unref(pair);
        }
        g_object_unref(entries);
        return out;
    }

    json of(JSCValue* v, int depth) {
        if (overflowed_ || ++values_ > maxValues) {
            overflowed_ = true;
            return json();
        }
        if (depth > maxDepth) return json(); // counted all the same: a wide cut still ends the walk
        if (absent(v) || jsc_value_is_null(v)) return json();
        if (jsc_value_is_boolean(v)) return static_cast<bool>(jsc_value_to_boolean(v));
        if (jsc_value_is_number(v)) return number(jsc_value_to_double(v));
        if (jsc_value_is_string(v)) return text(v);
        if (jsc_value_is_array(v)) return array(v, depth);
        if (jsc_value_is_object(v)) return object(v, depth);
        return json();
    }

    long values_ = 0;
    bool overflowed_ = false;
};

struct Evaluation {
    std::function<void(EvalResult)> completion;
};
} // namespace

// GLib reads $XDG_DATA_HOME and $XDG_CACHE_HOME, with the usual folders under home when unset.
std::filesystem::path pageDataDirectory() { return std::filesystem::path(g_get_user_data_dir()) / "scribbet" / "page"; }

std::filesystem::path pageCacheDirectory() {
    return std::filesystem::path(g_get_user_cache_dir()) / "scribbet" / "page";
}

PageLoadFailureKind pageLoadFailureKind(const std::string& domain, int code) {
    using Kind = PageLoadFailureKind;
    static const std::map<std::pair<std::string, int>, Kind> kinds = {
        {{g_quark_to_string(WEBKIT_NETWORK_ERROR), WEBKIT_NETWORK_ERROR_CANCELLED}, Kind::cancelled},
        {{g_quark_to_string(G_IO_ERROR), G_IO_ERROR_CANCELLED}, Kind::cancelled},
        {{g_quark_to_string(G_IO_ERROR), G_IO_ERROR_TIMED_OUT}, Kind::timedOut},
        {{g_quark_to_string(WEBKIT_POLICY_ERROR), WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE},
         Kind::frameInterrupted},
    };
    const auto it = kinds.find({domain, code});
    return it == kinds.end() ? Kind::other : it->second;
}

EvalResult evalResultOf(JSCValue* value) {
    if (!value) return {};
    if (jsc_value_is_string(value)) return {ValueWalk().top(value).get<std::string>(), std::nullopt};
    if (jsc_value_is_function(value) || !jsc_value_is_object(value)) return {};
    json j = ValueWalk().top(value);
    if (j.is_array() || j.is_object()) return {std::move(j), std::nullopt};
    return {};
}

json messageBodyOf(JSCValue* value) { return ValueWalk().top(value); }

PageView::PageView(std::weak_ptr<LayerPageEvents> events, MainQueue& main) : events_(std::move(events)), main_(main) {
    WebKitUserContentManager* manager = webkit_user_content_manager_new();
    manager_ = manager;
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", layerContext(), "user-content-manager",
                                         manager, nullptr));
    g_object_ref_sink(view_);
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(view_, &clear);
    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view_), TRUE);

    g_signal_connect(manager, "script-message-received::scribbet", G_CALLBACK(scriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(manager, "scribbet");
    g_signal_connect(view_, "decide-policy", G_CALLBACK(decidePolicy), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(loadFailed), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(loadChanged), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(processEnded), this);
}

// This object may go from inside one of the view's signals (the layer closing on it): the
// view itself is let go once that emission is over.
PageView::~PageView() {
    detach();
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, +[](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, view_,
                    g_object_unref);
    g_object_unref(manager_);
}

GtkWidget* PageView::widget() const { return GTK_WIDGET(view_); }

std::shared_ptr<LayerPageEvents> PageView::events() const { return detached_ ? nullptr : events_.lock(); }

void PageView::load(const std::string& url, Duration timeout) {
    if (detached_) return;
    timeout_ = timeout;
    WebKitURIRequest* request = webkit_uri_request_new(url.c_str());
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request)) {
        soup_message_headers_replace(headers, "Cache-Control", "no-cache");
        soup_message_headers_replace(headers, "Pragma", "no-cache");
    }
    armTimeout();
    webkit_web_view_load_request(view_, request);
    g_object_unref(request);
}

void PageView::reload() {
    if (detached_) return;
    armTimeout();
    webkit_web_view_reload_bypass_cache(view_);
}

void PageView::stopLoading() {
    timeoutTimer_.cancel();
    webkit_web_view_stop_loading(view_);
}

void PageView::armTimeout() {
    awaitingStart_ = true;
    if (timeout_ <= Duration::zero()) return;
    timeoutTimer_ = main_.oneShot(timeout_, weakly(shared_from_this(), [](PageView& p) { p.timedOut(); }));
}

// As a request whose time-out passed: a failed load, then the load stopped (whose own
// cancellation the layer ignores).
void PageView::timedOut() {
    if (auto e = events()) e->loadFailed(*this, {PageLoadFailureKind::timedOut, "The request timed out."});
    webkit_web_view_stop_loading(view_);
}

void PageView::evaluate(const std::string& script, std::function<void(EvalResult)> completion) {
    if (!completion) {
        webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
        return;
    }
    // The completion owns nothing of this view: WebKit keeps the view alive until it answers.
    auto* pending = new Evaluation{std::move(completion)};
    webkit_web_view_evaluate_javascript(
        view_, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Evaluation> e(static_cast<Evaluation*>(data));
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            EvalResult r;
            if (value) {
                r = evalResultOf(value);
                g_object_unref(value);
            } else {
                r.error = error && error->message ? error->message : "The script could not be run.";
            }
            if (error) g_error_free(error);
            e->completion(std::move(r));
        },
        pending);
}

void PageView::detach() {
    if (detached_) return;
    detached_ = true;
    timeoutTimer_.cancel();
    g_signal_handlers_disconnect_by_data(view_, this);
    g_signal_handlers_disconnect_by_data(manager_, this);
    webkit_user_content_manager_unregister_script_message_handler(WEBKIT_USER_CONTENT_MANAGER(manager_), "scribbet");
}

int PageView::decidePolicy(WebKitWebView*, void* d, int type, void* data) {
    auto* self = static_cast<PageView*>(data);
    auto* decision = WEBKIT_POLICY_DECISION(d);
    auto events = self->events();
    bool allow = false;
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        allow = events && events->allowNavigation(*self, uri ? uri : "");
        break;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* r = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        WebKitURIResponse* response = webkit_response_policy_decision_get_response(r);
        const char* uri = webkit_uri_response_get_uri(response);
        const std::string u = uri ? uri : "";
        const bool http = u.rfind("http:", 0) == 0 || u.rfind("https:", 0) == 0;
        const int status = static_cast<int>(webkit_uri_response_get_status_code(response));
        const bool main = webkit_response_policy_decision_is_main_frame_main_resource(r);
        if (main) self->timeoutTimer_.cancel();
        allow = !events || events->allowResponse(*self, http, status, main);
        break;
    }
    default:
        // A new window: the layer never opens one, as a web view without a window opener.
        allow = false;
        break;
    }
    if (allow) {
        webkit_policy_decision_use(decision);
    } else {
        webkit_policy_decision_ignore(decision);
    }
    return TRUE;
}

int PageView::loadFailed(WebKitWebView*, int, const char*, void* e, void* data) {
    auto* self = static_cast<PageView*>(data);
    auto* error = static_cast<GError*>(e);
    if (!self->awaitingStart_) self->timeoutTimer_.cancel();
    if (auto events = self->events(); events && error) {
        events->loadFailed(*self, {pageLoadFailureKind(g_quark_to_string(error->domain), error->code),
                                   error->message ? error->message : ""});
    }
    return TRUE; // no error page: the layer would show it over the slide
}

void PageView::loadChanged(WebKitWebView*, int event, void* data) {
    auto* self = static_cast<PageView*>(data);
    if (event == WEBKIT_LOAD_STARTED) self->awaitingStart_ = false;
    if ((event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) && !self->awaitingStart_) {
        self->timeoutTimer_.cancel();
    }
}

void PageView::processEnded(WebKitWebView*, int, void* data) {
    auto* self = static_cast<PageView*>(data);
    self->timeoutTimer_.cancel();
    if (auto events = self->events()) events->contentProcessEnded(*self);
}

void PageView::scriptMessage(void*, void* result, void* data) {
    auto* self = static_cast<PageView*>(data);
    auto events = self->events();
    if (!events) return;
    JSCValue* value = webkit_javascript_result_get_js_value(static_cast<WebKitJavascriptResult*>(result));
    events->message(*self, messageBodyOf(value));
}

} // namespace scribbet::gtkhost
