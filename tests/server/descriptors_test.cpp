// How far the open-file limit is raised, and how many connections the server holds under it.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "server/descriptors.hpp"

namespace scribbet {
namespace {

using Descriptors::Limit;

TEST(DescriptorLimit, TheSoftLimitGoesUpToTheHardOneWithinTheCeilingAndNeverDown) {
    EXPECT_EQ(Descriptors::raised(Limit{256, 1024}, 65536), 1024u);
    EXPECT_EQ(Descriptors::raised(Limit{256, RLIM_INFINITY}, 10240), 10240u); // macOS: no more than OPEN_MAX
    EXPECT_EQ(Descriptors::raised(Limit{256, 1u << 20}, 65536), 65536u);
    EXPECT_EQ(Descriptors::raised(Limit{1024, 1024}, 65536), std::nullopt);
    EXPECT_EQ(Descriptors::raised(Limit{100000, 200000}, 65536), std::nullopt); // already above the ceiling
    EXPECT_EQ(Descriptors::raised(Limit{256, 256}, 65536), std::nullopt);
#if defined(__APPLE__)
    EXPECT_LE(Descriptors::ceiling(), 10240u);
#endif
}

TEST(DescriptorLimit, ConnectionsLeaveAShareOfTheDescriptorsToTheRestOfTheProgram) {
    EXPECT_EQ(Descriptors::connectionBudget(256), 192u);
    EXPECT_EQ(Descriptors::connectionBudget(1024), 768u);
    EXPECT_EQ(Descriptors::connectionBudget(10240), 9984u); // at most 256 kept back
    EXPECT_EQ(Descriptors::connectionBudget(40), 24u);      // at least 16
    EXPECT_EQ(Descriptors::connectionBudget(10), 1u);
    EXPECT_EQ(Descriptors::connectionBudget(RLIM_INFINITY), 65536u);
}

// The process's own limit; the soft one is put back afterwards (only the hard one is for good).
TEST(DescriptorLimit, RaisingSetsTheProcessSoftLimit) {
    const auto before = Descriptors::current();
    ASSERT_TRUE(before);
    if (before->hard <= 256) GTEST_SKIP() << "the hard limit leaves nothing to raise";
    rlimit low{256, static_cast<rlim_t>(before->hard)};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

    const auto wanted = std::min<std::uint64_t>(before->hard, Descriptors::ceiling());
    EXPECT_EQ(Descriptors::raise(), wanted);
    EXPECT_EQ(Descriptors::current()->soft, wanted);
    EXPECT_EQ(Descriptors::raise(), wanted); // a second time changes nothing

    rlimit back{static_cast<rlim_t>(before->soft), static_cast<rlim_t>(before->hard)};
    ::setrlimit(RLIMIT_NOFILE, &back);
}

} // namespace
} // namespace scribbet
