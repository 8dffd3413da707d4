#include "adapters/mac/menu_plan.hpp"

#include <gtest/gtest.h>

#include "shell/app_delegate.hpp"

namespace scribbet::mac {
namespace {

TEST(MenuPlanTest, EveryActionHasItsSelectorAndTarget) {
    EXPECT_EQ(menuCommand(MenuAction::hide), (MenuCommand{"hide:", MenuTarget::application}));
    EXPECT_EQ(menuCommand(MenuAction::terminate), (MenuCommand{"terminate:", MenuTarget::application}));
    EXPECT_EQ(menuCommand(MenuAction::undo), (MenuCommand{"undo:", MenuTarget::firstResponder}));
    EXPECT_EQ(menuCommand(MenuAction::cut), (MenuCommand{"cut:", MenuTarget::firstResponder}));
    EXPECT_EQ(menuCommand(MenuAction::copy), (MenuCommand{"copy:", MenuTarget::firstResponder}));
    EXPECT_EQ(menuCommand(MenuAction::paste), (MenuCommand{"paste:", MenuTarget::firstResponder}));
    EXPECT_EQ(menuCommand(MenuAction::selectAll), (MenuCommand{"selectAll:", MenuTarget::firstResponder}));
    EXPECT_EQ(menuCommand(static_cast<MenuAction>(99)), std::nullopt);
}

TEST(MenuPlanTest, TheProgramsMenuBarBecomesTwoMenusWithCommandKeys) {
    const auto plan = menuPlan(AppDelegate::menus());
    ASSERT_EQ(plan.size(), 2u);

    const MenuPlan& app = plan[0];
    EXPECT_EQ(app.itemTitle, "");
    EXPECT_EQ(app.title, "Scribbet");
    ASSERT_EQ(app.items.size(), 3u);
    EXPECT_EQ(app.items[0], (MenuItemPlan{false, "Hide Scribbet", menuCommand(MenuAction::hide), "h", commandKeyMask}));
    EXPECT_TRUE(app.items[1].separator);
    EXPECT_EQ(app.items[2].command, (MenuCommand{"terminate:", MenuTarget::application}));
    EXPECT_EQ(app.items[2].key, "q");

    const MenuPlan& edit = plan[1];
    EXPECT_EQ(edit.itemTitle, "Edit");
    ASSERT_EQ(edit.items.size(), 6u);
    EXPECT_TRUE(edit.items[1].separator);
    EXPECT_EQ(edit.items[1].modifiers, 0u);
    for (std::size_t i : {0u, 2u, 3u, 4u, 5u}) {
        EXPECT_EQ(edit.items[i].command->target, MenuTarget::firstResponder) << i;
        EXPECT_EQ(edit.items[i].modifiers, commandKeyMask) << i;
    }
    EXPECT_EQ(edit.items[5].title, "Select All");
    EXPECT_EQ(edit.items[5].command->selector, "selectAll:");
}

TEST(MenuPlanTest, KeysAreOneLowerCaseCharacterOrNone) {
    EXPECT_EQ(keyEquivalent("q"), "q");
    EXPECT_EQ(keyEquivalent("Q"), "q"); // not Shift-Command-Q
    EXPECT_EQ(keyEquivalent(","), ",");
    EXPECT_EQ(keyEquivalent("\xc3\xa9"), "\xc3\xa9"); // é stays one character
    EXPECT_EQ(keyEquivalent(""), "");
    EXPECT_EQ(keyEquivalent("qq"), "");
    EXPECT_EQ(keyEquivalent("\xc3"), ""); // a cut-off sequence
    EXPECT_EQ(keyEquivalent("\xff"), "");
}

TEST(MenuPlanTest, OddItemsStillMakeAMenuAppKitTakes) {
    const Menu menu{"Odd", "Odd\xff",
                    {{"Nothing", "", std::nullopt}, {"", "x", MenuAction::cut}, {"Two keys", "ab", MenuAction::copy}}};
    const auto plan = menuPlan({menu});
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].title, "Odd\xef\xbf\xbd"); // U+FFFD, which NSString takes
    const auto& items = plan[0].items;
    ASSERT_EQ(items.size(), 3u);
    // A title without an action is an inert item, not a separator.
    EXPECT_FALSE(items[0].separator);
    EXPECT_EQ(items[0].command, std::nullopt);
    EXPECT_EQ(items[0].modifiers, 0u);
    // An action without a title is still the action.
    EXPECT_FALSE(items[1].separator);
    EXPECT_EQ(items[1].command->selector, "cut:");
    // No key: no modifier either, or AppKit would show a lone Command sign.
    EXPECT_EQ(items[2].key, "");
    EXPECT_EQ(items[2].modifiers, 0u);
    EXPECT_TRUE(menuPlan({}).empty());
}

} // namespace
} // namespace scribbet::mac
