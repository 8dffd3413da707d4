#include "adapters/mac/page_request.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scribbet::mac::page_request {

double timeoutIntervalOf(Duration timeout) {
    const double s = toSeconds(timeout);
    return std::isfinite(s) && s > 0 ? s : defaultTimeoutSeconds;
}

int httpStatusOf(long long statusCode) {
    return static_cast<int>(std::clamp<long long>(statusCode, 0, std::numeric_limits<int>::max()));
}

} // namespace scribbet::mac::page_request
