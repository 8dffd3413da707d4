#include "adapters/mac/mac_bundle.hpp"

#import <Foundation/Foundation.h>

#include <climits>

#include "adapters/mac/bundle_facts.hpp"
#include "adapters/mac/ns_utf8.h"

namespace scribbet::mac {

namespace {
// A path as the file system spells it, or none. The answering form of the conversion: the
// property form raises an exception for a path it cannot convert.
std::optional<std::string> pathText(NSString* path) {
    if (path.length == 0) return std::nullopt;
    char bytes[PATH_MAX];
    if (![path getFileSystemRepresentation:bytes maxLength:sizeof bytes]) return std::nullopt;
    return std::string(bytes);
}
} // namespace

std::optional<std::string> MacBundle::version() const {
    @autoreleasepool {
        id value = NSBundle.mainBundle.infoDictionary[@"CFBundleShortVersionString"];
        // BOOL is a signed char on Intel Macs, and braces do not narrow it to bool by themselves.
        InfoValue info{value != nil, static_cast<bool>([value isKindOfClass:[NSString class]]), {}};
        if (info.isString) {
            info.text = utf8((NSString*)value).value_or("");
        }
        return versionOf(info);
    }
}

std::optional<std::filesystem::path> MacBundle::resourcesDirectory() const {
    @autoreleasepool {
        return pathOf(pathText(NSBundle.mainBundle.resourcePath));
    }
}

std::filesystem::path MacBundle::bundleDirectory() const {
    @autoreleasepool {
        return pathOf(pathText(NSBundle.mainBundle.bundlePath)).value_or(std::filesystem::path());
    }
}

std::optional<std::filesystem::path> MacBundle::resource(const std::string& name, const std::string& ext) const {
    if (!resourceNameUsable(name, ext)) return std::nullopt;
    @autoreleasepool {
        NSString *n = nsUtf8(name), *e = nsUtf8(ext);
        if (!n || !e) return std::nullopt;
        return pathOf(pathText([NSBundle.mainBundle pathForResource:n ofType:e]));
    }
}

} // namespace scribbet::mac
