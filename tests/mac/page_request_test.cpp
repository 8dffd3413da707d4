#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "adapters/mac/page_request.hpp"

using namespace scribbet;
using namespace scribbet::mac;
using namespace std::chrono_literals;

TEST(MacPageRequestTest, TheTimeOutGoesOverInSecondsAndNeverAsNoTimeAtAll) {
    EXPECT_DOUBLE_EQ(page_request::timeoutIntervalOf(60s), 60);
    EXPECT_DOUBLE_EQ(page_request::timeoutIntervalOf(1500ms), 1.5);
    EXPECT_DOUBLE_EQ(page_request::timeoutIntervalOf(0s), page_request::defaultTimeoutSeconds);
    EXPECT_DOUBLE_EQ(page_request::timeoutIntervalOf(-5s), page_request::defaultTimeoutSeconds);
    EXPECT_DOUBLE_EQ(page_request::timeoutIntervalOf(Duration::min()), page_request::defaultTimeoutSeconds);
    EXPECT_GT(page_request::timeoutIntervalOf(Duration::max()), 0);
}

TEST(MacPageRequestTest, StatusCodesStayOnTheirSideOfFourHundred) {
    EXPECT_EQ(page_request::httpStatusOf(200), 200);
    EXPECT_EQ(page_request::httpStatusOf(404), 404);
    EXPECT_EQ(page_request::httpStatusOf(0), 0);
    EXPECT_EQ(page_request::httpStatusOf(-1), 0);
    EXPECT_EQ(page_request::httpStatusOf(1LL << 40), std::numeric_limits<int>::max()); // not wrapped below 400
    EXPECT_EQ(page_request::httpStatusOf(std::numeric_limits<long long>::min()), 0);
}

// The drawing page's own source names the handler it posts to; the two must agree.
TEST(MacPageRequestTest, TheHandlerIsTheOneThePagePostsTo) {
    // CTest names the source tree; run by hand, the tree is where this file is.
    const char* root = std::getenv("SCRIBBET_TEST_SOURCE");
    const auto tree = root && *root ? std::filesystem::path(root)
                                    : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    std::ifstream in(tree / "page/src/messages.ts");
    ASSERT_TRUE(in) << "page/src/messages.ts not found";
    const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string use = std::string("messageHandlers?.") + page_request::messageHandlerName + " ";
    EXPECT_NE(source.find(use), std::string::npos);
}
