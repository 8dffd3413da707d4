#pragma once
// An in-memory accessibility tree for tests: nodes with attributes and children, scroll
// bars whose values can move other nodes, and nodes that die as stale references do.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/rect.hpp"
#include "ports/accessibility.hpp"

namespace scribbet::fake {

class FakeAXNode final : public AXElement {
public:
    std::map<std::string, AXValue> attrs;
    std::vector<std::shared_ptr<FakeAXNode>> kids;
    std::function<void(double)> onSet; // called when "AXValue" is set
    bool alive = true;

    static std::shared_ptr<FakeAXNode> make(const std::string& role, std::optional<Rect> frame = std::nullopt) {
        auto n = std::make_shared<FakeAXNode>();
        n->attrs["AXRole"] = role;
        if (frame) n->setFrame(*frame);
        return n;
    }
    void setFrame(const Rect& r) {
        attrs["AXPosition"] = AXPoint{r.x, r.y};
        attrs["AXSize"] = AXSize{r.w, r.h};
    }
    Rect frame() const {
        const auto p = std::get<AXPoint>(attrs.at("AXPosition"));
        const auto s = std::get<AXSize>(attrs.at("AXSize"));
        return {p.x, p.y, s.w, s.h};
    }
    std::shared_ptr<FakeAXNode> add(std::shared_ptr<FakeAXNode> child) {
        kids.push_back(child);
        return child;
    }
};

class FakeAccessibility final : public Accessibility {
public:
    bool trusted() const override { return isTrusted; }
    bool promptForTrust() override {
        ++prompts;
        return isTrusted;
    }
    AXRef application(int pid) override {
        ++searches;
        auto it = apps.find(pid);
        return it == apps.end() ? nullptr : it->second;
    }
    std::optional<AXValue> attribute(const AXRef& element, const std::string& name) override {
        const auto* n = dynamic_cast<const FakeAXNode*>(element.get());
        if (!n || !n->alive) return std::nullopt;
        if (name == "AXChildren") {
            std::vector<AXRef> out(n->kids.begin(), n->kids.end());
            return out;
        }
        auto it = n->attrs.find(name);
        if (it == n->attrs.end()) return std::nullopt;
        return it->second;
    }
    bool setNumber(const AXRef& element, const std::string& name, double value) override {
        auto* n = const_cast<FakeAXNode*>(dynamic_cast<const FakeAXNode*>(element.get()));
        if (!n || !n->alive || name != "AXValue" || !n->attrs.count("AXValue")) return false;
        n->attrs["AXValue"] = value;
        ++sets;
        if (n->onSet) n->onSet(value);
        return true;
    }
    void setMessagingTimeout(const AXRef& element, double seconds) override { timeouts[element.get()] = seconds; }
    bool equal(const AXRef& a, const AXRef& b) const override { return a == b; }
    bool tellsChanges() const override { return tells; }
    Subscription onChange(std::function<void()> handler) override { return changes.add(std::move(handler)); }

    bool isTrusted = true;
    bool tells = false;
    CallbackList<void()> changes;
    int prompts = 0;
    int searches = 0;
    int sets = 0;
    std::map<int, std::shared_ptr<FakeAXNode>> apps;
    std::map<const AXElement*, double> timeouts;
};

} // namespace scribbet::fake
