#include <gtest/gtest.h>

#include "adapters/fake/fake_accessibility.hpp"
#include "adapters/fake/fake_app.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "geometry/ax_access.hpp"
#include "program/addin_check.hpp"

using namespace scribbet;

namespace {

class AXAccessTest : public ::testing::Test {
protected:
    AXAccess made(bool testing, std::shared_ptr<Accessibility> with) {
        return AXAccess({std::move(with), prefs, workspace, testing, version});
    }

    std::shared_ptr<fake::FakeAccessibility> ax = std::make_shared<fake::FakeAccessibility>();
    std::shared_ptr<fake::FakeWorkspace> workspace = std::make_shared<fake::FakeWorkspace>();
    MemoryPreferences prefs;
    const std::string version = AddinCheck::versionOf(fake::FakeBundle{});
};

TEST_F(AXAccessTest, TheSystemPromptIsShownOncePerVersionAndNeverInTestMode) {
    AXAccess access = made(false, ax);
    ax->isTrusted = false;
    EXPECT_TRUE(access.askOnce());
    EXPECT_FALSE(access.askOnce());
    EXPECT_EQ(ax->prompts, 1);
    EXPECT_EQ(prefs.get("axAskedFor"), nlohmann::json(version));

    prefs.set("axAskedFor", "0.0.1"); // an older version asked
    EXPECT_FALSE(made(true, ax).askOnce());
    EXPECT_EQ(ax->prompts, 1);
    EXPECT_TRUE(access.askOnce());
    ax->isTrusted = true;
    prefs.set("axAskedFor", "0.0.1");
    EXPECT_FALSE(access.askOnce());
    EXPECT_EQ(ax->prompts, 2);

    access.openSettings();
    EXPECT_EQ(workspace->opened,
              std::vector<std::string>{"x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
}

TEST_F(AXAccessTest, TheButtonPromptsEveryTimeAndNoInterfaceIsNeverTrusted) {
    ax->isTrusted = false;
    AXAccess access = made(false, ax);
    EXPECT_FALSE(access.trusted());
    access.prompt();
    access.prompt();
    EXPECT_EQ(ax->prompts, 2);
    ax->isTrusted = true;
    EXPECT_TRUE(access.trusted());

    AXAccess none = made(false, nullptr);
    EXPECT_FALSE(none.trusted());
    EXPECT_FALSE(none.askOnce());
    none.prompt(); // nothing to ask
    EXPECT_FALSE(prefs.get("axAskedFor"));
}

} // namespace
