#include "adapters/mac/menu_plan.hpp"

#include "base/text.hpp"

namespace scribbet::mac {

std::optional<MenuCommand> menuCommand(MenuAction action) {
    switch (action) {
    case MenuAction::hide: return MenuCommand{"hide:", MenuTarget::application};
    case MenuAction::terminate: return MenuCommand{"terminate:", MenuTarget::application};
    case MenuAction::undo: return MenuCommand{"undo:", MenuTarget::firstResponder};
    case MenuAction::cut: return MenuCommand{"cut:", MenuTarget::firstResponder};
    case MenuAction::copy: return MenuCommand{"copy:", MenuTarget::firstResponder};
    case MenuAction::paste: return MenuCommand{"paste:", MenuTarget::firstResponder};
    case MenuAction::selectAll: return MenuCommand{"selectAll:", MenuTarget::firstResponder};
    }
    return std::nullopt;
}

std::string keyEquivalent(const std::string& key) {
    if (key.empty()) return {};
    text::CodePoint cp = 0;
    const std::size_t length = text::codePointAt(key, 0, cp);
    if (cp < 0 || length != key.size()) return {};
    if (cp >= 'A' && cp <= 'Z') return std::string(1, static_cast<char>(cp - 'A' + 'a'));
    return key;
}

namespace {
MenuItemPlan itemPlan(const MenuItem& item) {
    MenuItemPlan plan;
    if (item.separator()) {
        plan.separator = true;
        return plan;
    }
    plan.title = text::validUtf8(item.title);
    if (item.action) plan.command = menuCommand(*item.action);
    plan.key = keyEquivalent(item.key);
    plan.modifiers = plan.key.empty() ? 0 : commandKeyMask;
    return plan;
}
} // namespace

std::vector<MenuPlan> menuPlan(const std::vector<Menu>& menus) {
    std::vector<MenuPlan> plans;
    plans.reserve(menus.size());
    for (const auto& menu : menus) {
        MenuPlan plan{text::validUtf8(menu.itemTitle), text::validUtf8(menu.title), {}};
        for (const auto& item : menu.items) plan.items.push_back(itemPlan(item));
        plans.push_back(std::move(plan));
    }
    return plans;
}

} // namespace scribbet::mac
