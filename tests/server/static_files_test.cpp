// The drawing page's files, asked of the web directory's files directly: known types below
// it only, the same not-found for everything else.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "server/static_files.hpp"
#include "support/test_env.hpp"

namespace scribbet {
namespace {

const std::string page = "<!doctype html><title>layer</title>\n";

class StaticFilesTest : public ::testing::Test {
protected:
    StaticFilesTest() {
        test::writeFile(web / "overlay.html", page);
        test::writeFile(web / "Overlay.HTML", "upper");
        test::writeFile(web / ".hidden.js", "hidden");
        test::writeFile(web / "x.txt", "text");
        test::writeFile(web / "js" / "app.js", "app();");
        test::writeFile(web / "img" / "dot.PNG", "png");
        test::writeFile(web / "style.css", "css");
        test::writeFile(web / "data.json", "{}");
        test::writeFile(web / "pic.svg", "<svg/>");
        test::writeFile(web / "noext", "x");
        test::writeFile(web / "dot.", "x");
        std::filesystem::create_directories(web / "folder.html");
        test::writeFile(dir / "secret.html", "outside");
        std::filesystem::create_symlink(dir / "secret.html", web / "out.html");
        std::filesystem::create_symlink(web / "js" / "app.js", web / "alias.js");
        std::filesystem::create_symlink(dir.path(), web / "up");
        files.emplace(web);
    }
    void served(const std::string& path, const std::string& type, const std::string& body) {
        const auto reply = files->file(path);
        EXPECT_EQ(reply.code, 200) << path;
        EXPECT_EQ(reply.type, type) << path;
        EXPECT_EQ(reply.body, body) << path;
    }
    void refused(const std::string& path) { EXPECT_EQ(files->file(path), StaticFiles::notFound()) << path; }

    test::TempDir dir;
    std::filesystem::path web = dir / "web";
    std::optional<StaticFiles> files;
};

TEST_F(StaticFilesTest, ServesKnownTypesBelowTheWebDirectory) {
    served("/overlay.html", "text/html; charset=utf-8", page);
    served("/Overlay.HTML", "text/html; charset=utf-8", "upper");
    served("/js/app.js", "text/javascript; charset=utf-8", "app();");
    served("//js///app.js", "text/javascript; charset=utf-8", "app();");
    served("/img/dot.PNG", "image/png", "png");
    served("/style.css", "text/css; charset=utf-8", "css");
    served("/data.json", "application/json; charset=utf-8", "{}");
    served("/pic.svg", "image/svg+xml", "<svg/>");
    served("/alias.js", "text/javascript; charset=utf-8", "app();"); // a link that stays inside
}

TEST_F(StaticFilesTest, RefusesEverythingElseWithTheSameNotFound) {
    EXPECT_EQ(StaticFiles::notFound(), (Reply{404, "text/plain; charset=utf-8", "Not found"}));
    for (const auto* path : {"/", "", "///", "/.hidden.js", "/a/../overlay.html", "/./overlay.html", "/js/../overlay.html",
                             "/x.txt", "/OVERLAY.HTM", "/noext", "/dot.", "/folder.html", "/missing.html",
                             "/js\\app.js", "/out.html", "/up/secret.html"}) {
        refused(path);
    }
    refused(std::string("/overlay.html\0.js", 17));
}

TEST_F(StaticFilesTest, AWebDirectoryGivenThroughALinkOrWithDotsStillServes) {
    std::filesystem::create_symlink(web, dir / "web-link");
    const StaticFiles linked(dir / "web-link");
    EXPECT_EQ(linked.web(), std::filesystem::canonical(web));
    EXPECT_EQ(linked.file("/overlay.html").code, 200);
    EXPECT_EQ(linked.file("/out.html").code, 404);

    const StaticFiles dotted(dir / "web" / ".." / "web" / ".");
    EXPECT_EQ(dotted.file("/js/app.js").code, 200);
}

TEST_F(StaticFilesTest, ASiblingDirectorySharingThePrefixIsOutside) {
    test::writeFile(dir / "web2" / "page.html", "sibling");
    std::filesystem::create_symlink(dir / "web2" / "page.html", web / "sib.html");
    refused("/sib.html");
}

} // namespace
} // namespace scribbet
