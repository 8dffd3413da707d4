#pragma once
// The stand-in on a real display: the program's document window as a GTK window, drawn from
// the model (ribbon, thumbnails, the slide with its shapes at the zoom and scroll, notes,
// status bar) and the small palette over it, so that Scribbet's layer lies over something
// real. The window and the model follow each other: changes made through ctl move and redraw
// it; moving or resizing it, focusing it and clicking its thumbnails change the model, so
// the window list, the front application and the accessibility tree follow the window.
#include <functional>

#include "shared_model.hpp"

namespace scribbet::standin {

namespace windowGtk {

// Whether there is a display to show the window on (DISPLAY set and GTK starts there).
bool open();

// Shows the window and runs GTK on this thread while `serve` answers requests on another;
// returns once `serve` has returned (the stand-in was told to quit or got a signal).
void run(SharedModel& model, const std::function<void()>& serve);

} // namespace windowGtk

} // namespace scribbet::standin
