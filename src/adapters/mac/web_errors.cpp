#include "adapters/mac/web_errors.hpp"

namespace scribbet::mac::web_errors {

PageLoadFailureKind pageLoadFailureKind(std::string_view domain, long code) {
    using Kind = PageLoadFailureKind;
    if (domain == urlDomain) {
        if (code == urlCancelled) return Kind::cancelled;
        if (code == urlTimedOut) return Kind::timedOut;
    } else if (domain == webKitDomain && code == frameLoadInterrupted) {
        return Kind::frameInterrupted;
    }
    return Kind::other;
}

bool isUnreturnableResult(std::string_view domain, long code) {
    return domain == wkDomain && code == resultTypeUnsupported;
}

} // namespace scribbet::mac::web_errors
