// Which WebKit load errors close the layer and which are ours: a cancelled or refused load
// must never be taken for a failure, and nothing unknown may pass for a cancellation.
#include <gtest/gtest.h>

#include "adapters/mac/web_errors.hpp"

using namespace scribbet;
using namespace scribbet::mac;
using Kind = PageLoadFailureKind;

TEST(MacPageLoadErrorsTest, TheKnownCodesHaveTheirKindsInTheirOwnDomainOnly) {
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain", -999), Kind::cancelled);
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain", -1001), Kind::timedOut);
    EXPECT_EQ(web_errors::pageLoadFailureKind("WebKitErrorDomain", 102), Kind::frameInterrupted);
    // The same numbers in the other domains mean something else.
    EXPECT_EQ(web_errors::pageLoadFailureKind("WebKitErrorDomain", -999), Kind::other);
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain", 102), Kind::other);
    EXPECT_EQ(web_errors::pageLoadFailureKind("WKErrorDomain", 102), Kind::other);
    EXPECT_EQ(web_errors::pageLoadFailureKind("WKErrorDomain", -1001), Kind::other);
}

TEST(MacPageLoadErrorsTest, EverythingElseIsAFailure) {
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain", -1004), Kind::other); // cannot connect
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain", 999), Kind::other);
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain", 0), Kind::other);
    EXPECT_EQ(web_errors::pageLoadFailureKind("WebKitErrorDomain", 101), Kind::other); // cannot show URL
    EXPECT_EQ(web_errors::pageLoadFailureKind("", -999), Kind::other);
    // Domains compare exactly.
    EXPECT_EQ(web_errors::pageLoadFailureKind("nsurlerrordomain", -999), Kind::other);
    EXPECT_EQ(web_errors::pageLoadFailureKind("NSURLErrorDomain ", -999), Kind::other);
}

TEST(MacPageLoadErrorsTest, OnlyAnUnreturnableValueIsNoEvaluationError) {
    EXPECT_TRUE(web_errors::isUnreturnableResult("WKErrorDomain", 5));
    EXPECT_FALSE(web_errors::isUnreturnableResult("WKErrorDomain", 4)); // the script threw
    EXPECT_FALSE(web_errors::isUnreturnableResult("WKErrorDomain", 2)); // the page's process ended
    EXPECT_FALSE(web_errors::isUnreturnableResult("WebKitErrorDomain", 5));
    EXPECT_FALSE(web_errors::isUnreturnableResult("", 5));
}
