#include "adapters/mac/running_app_facts.hpp"

namespace scribbet::mac {

namespace {
std::optional<std::string> nonEmpty(const std::optional<std::string>& s) {
    if (!s || s->empty()) return std::nullopt;
    return s;
}
} // namespace

std::optional<int> firstLiveProcess(const std::vector<RunningAppFacts>& apps) {
    for (const auto& app : apps) {
        if (!app.terminated && app.pid > 0) return app.pid;
    }
    return std::nullopt;
}

FrontApp frontAppOf(const RunningAppFacts& app, int selfPid) {
    return FrontApp{nonEmpty(app.bundleId), app.pid > 0 && app.pid == selfPid};
}

std::optional<std::string> terminatedBundleOf(const std::optional<RunningAppFacts>& app) {
    if (!app) return std::nullopt;
    return nonEmpty(app->bundleId);
}

} // namespace scribbet::mac
