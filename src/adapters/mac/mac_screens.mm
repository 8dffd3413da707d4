#include "adapters/mac/mac_screens.hpp"

#import <AppKit/AppKit.h>

#include "adapters/mac/appkit_text.h"
#include "adapters/mac/screen_list.hpp"

namespace scribbet::mac {

namespace {
// Main thread.
ScreenSnapshot readScreens() {
    NSArray<NSScreen*>* all = NSScreen.screens;
    NSScreen* main = NSScreen.mainScreen;
    std::vector<ScreenReading> readings;
    std::optional<std::size_t> mainIndex;
    for (NSUInteger i = 0; i < all.count; ++i) {
        NSScreen* screen = all[i];
        if (main && [screen isEqual:main]) mainIndex = i;
        readings.push_back({rectOf(screen.frame), rectOf(screen.visibleFrame), screen.backingScaleFactor});
    }
    return snapshotOf(readings, mainIndex);
}
} // namespace

struct MacScreens::Impl {
    std::shared_ptr<ScreenCache> cache = std::make_shared<ScreenCache>();
    NSMutableArray<id<NSObject>>* observers = [NSMutableArray array];

    ScreenSnapshot current() const {
        if (![NSThread isMainThread]) return cache->snapshot();
        ScreenSnapshot now = readScreens();
        cache->store(now);
        return now;
    }

    // Queue nil: AppKit posts both on the main thread, and the block runs there at once, so
    // none can come after the observers are removed.
    void observe(NSNotificationName name) {
        std::weak_ptr<ScreenCache> weak = cache;
        id token = [NSNotificationCenter.defaultCenter addObserverForName:name
                                                                   object:nil
                                                                    queue:nil
                                                               usingBlock:^(NSNotification*) {
                                                                 const auto live = weak.lock();
                                                                 if (live) live->store(readScreens());
                                                               }];
        [observers addObject:token];
    }
};

MacScreens::MacScreens() : impl_(std::make_unique<Impl>()) {
    impl_->cache->store(readScreens());
    impl_->observe(NSApplicationDidChangeScreenParametersNotification);
    impl_->observe(NSWindowDidBecomeKeyNotification);
}

MacScreens::~MacScreens() {
    for (id token in impl_->observers) [NSNotificationCenter.defaultCenter removeObserver:token];
}

std::vector<ScreenInfo> MacScreens::screens() const { return impl_->current().screens; }

std::optional<ScreenInfo> MacScreens::mainScreen() const { return impl_->current().mainScreen(); }

} // namespace scribbet::mac
