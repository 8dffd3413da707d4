// Symbolic links below the web directory are judged by where they lead: inside is served,
// whatever the name at the end; outside is not, however many links it takes to get there.
#include <gtest/gtest.h>

#include <optional>

#include "server/static_files.hpp"
#include "support/test_env.hpp"

namespace scribbet {
namespace {

class StaticFileLinks : public ::testing::Test {
protected:
    StaticFileLinks() {
        test::writeFile(web / "js" / "app.js", "app();");
        test::writeFile(web / ".secret.js", "hidden");
        test::writeFile(dir / "outside" / "x.js", "outside");
        std::filesystem::create_symlink(web / ".secret.js", web / "shown.js");
        std::filesystem::create_symlink("js", web / "lib");                    // a relative directory link
        std::filesystem::create_symlink(dir / "outside", web / "ext");
        std::filesystem::create_symlink(dir / "outside" / "x.js", web / "js" / "away.js");
        std::filesystem::create_symlink("shown.js", web / "twice.js");         // a link to a link
        std::filesystem::create_symlink(web / "missing.js", web / "dangling.js");
        files.emplace(web);
    }
    std::string body(const std::string& path) {
        const auto reply = files->file(path);
        return reply.code == 200 ? reply.body : std::to_string(reply.code);
    }

    test::TempDir dir;
    std::filesystem::path web = dir / "web";
    std::optional<StaticFiles> files;
};

TEST_F(StaticFileLinks, ALinkThatStaysInsideIsServedWhateverItsTargetIsCalled) {
    EXPECT_EQ(body("/shown.js"), "hidden");
    EXPECT_EQ(body("/twice.js"), "hidden");
    EXPECT_EQ(body("/lib/app.js"), "app();");
    EXPECT_EQ(body("/.secret.js"), "404"); // the name asked for is what may not begin with a dot
}

TEST_F(StaticFileLinks, ALinkThatLeadsOutsideIsRefusedAtAnyDepth) {
    EXPECT_EQ(body("/ext/x.js"), "404");
    EXPECT_EQ(body("/js/away.js"), "404");
    EXPECT_EQ(body("/lib/away.js"), "404"); // inside first, then out
    EXPECT_EQ(body("/dangling.js"), "404");
    EXPECT_EQ(body("/js/app.js/more.js"), "404"); // a file is no directory
}

} // namespace
} // namespace scribbet
