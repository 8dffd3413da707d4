#pragma once
// The stand-in's world: the desktop (screens, the pointer, the front application), the
// presentation program (running or not, its document window and view), the presentation
// (slides, shapes, theme) and the add-in. A plain value; SharedModel guards it for the
// threads of the socket server.
//
// The document window is laid out as the program lays out its Normal view, simplified:
//
//   +--------------------------------------------------+  window frame
//   | title bar and ribbon                    (140 pt) |
//   +-----------+--------------------------------------+
//   | slide     | slide editor (the pane): split % of   |
//   | thumbnails| the height between ribbon and status  |
//   | (200 pt)  +--------------------------------------+
//   |           | notes: the rest                       |
//   +-----------+--------------------------------------+
//   | status bar                               (33 pt) |
//   +--------------------------------------------------+
//
// The slide editor is a scroll area over a document: the slide at the zoom, with 18 points
// of margin on every side, never smaller than the pane. The slide sits centred in that
// document; the scroll position is the two scroll bars' values (0 = start, 1 = end), so the
// document's top-left lies at pane - value * (document - pane) on each axis. At Fit the zoom
// is whatever makes the slide and its margins fit the pane, and nothing scrolls.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "geometry.hpp"
#include "paint.hpp"
#include "path_text.hpp"

namespace scribbet::standin {

inline constexpr const char* programBundle = "com.microsoft.Powerpoint";
inline constexpr const char* programName = "Microsoft PowerPoint";

struct Screen {
    Rect frame;   // global points
    Rect visible; // the frame without the menu bar and the Dock
    double scale = 1; // backing pixels per point
    bool operator==(const Screen&) const = default;
};

struct App {
    std::string bundle;
    int pid = 0;
    bool operator==(const App&) const = default;
};

struct Shape {
    std::int64_t id = 0;
    std::string name;
    std::string kind = "freeform";
    Rect frame; // left, top, width, height in slide points
    std::vector<Subpath> subpaths;
    Paint stroke;
    Paint fill;
    double width = 1; // outline weight in points
    bool endArrowhead = false; // the line ends in the program's own (triangle) arrowhead
    bool operator==(const Shape&) const = default;
};

struct Slide {
    std::int64_t id = 0; // stable for the slide's life, as the program's slide identifiers are
    std::vector<Shape> shapes;
    std::int64_t nextShapeId = 2;
    bool operator==(const Slide&) const = default;
};

struct Presentation {
    std::string name = "Presentation1";
    double slideW = 960; // points
    double slideH = 540;
    std::vector<Slide> slides;
    std::size_t current = 0; // index into slides
    std::int64_t nextSlideId = 256;
    bool operator==(const Presentation&) const = default;
};

// What the document window shows: the Normal view (the slide editor over the notes, the
// thumbnails beside them), the slide sorter (a grid of all the slides, no slide editor), or
// nothing at all: the presentation is open without a document window.
enum class View { normal, sorter, none };

struct DocumentWindow {
    Rect frame;        // global points; kept while there is no window, for when it comes back
    double zoom = 100; // percent, whole numbers 10-400; not used while fit is on
    bool fit = true;
    Point scroll{0.5, 0.5}; // horizontal and vertical scroll bar values, 0-1
    double split = 100;     // percent of the space below the ribbon given to the slide editor
    bool palette = true;    // a small floating palette of the program is shown
    View view = View::normal;
    bool operator==(const DocumentWindow&) const = default;
};

struct Addin {
    std::string name = "Scribbet";
    std::string prefix = "SCBT_Pen."; // the module part of every full macro name
    bool loaded = true;
    std::string version;
    std::string reloadVersion; // the version that loading the add-in brings
    bool loadable = true;      // false: loading leaves it unloaded
    bool arrowheads = true;    // false: an add-in from before arrowheads (no SCBT_Features, 7 insert arguments)
    bool operator==(const Addin&) const = default;
};

// How long the program takes to answer an event; `never` is a program that hangs.
struct Delay {
    double seconds = 0;
    bool never = false;
    bool operator==(const Delay&) const = default;
};

enum class Units { points, pixels };

// Which pane of the Normal view has the keyboard focus: the slide editor, or the thumbnail
// strip beside it (after a click on a thumbnail). The add-in reads and fits the slide
// editor whichever it is, and gives the focus back to the pane that had it.
enum class Focus { slide, thumbnails };

// A second presentation besides the one the model starts with: none, open in a window of
// its own behind, or in front (its window is the one the document window stands for, and
// the first presentation is the one behind).
enum class Second { none, behind, front };

// How the slide editor shows itself to the accessibility interface: described "Slide
// Editor …" as the program does, without a description (as under another interface
// language), or not there at all (a view without a slide editor).
enum class EditorShown { labelled, unlabelled, none };

// The program's windows as the system's accessibility interface sees them (the tree itself
// is made from the rest of the model, see ax_tree.hpp), and what the system allows Scribbet.
struct AXState {
    bool trusted = true; // Scribbet is granted Accessibility, so the reader works out of the box
    Delay delay;         // how long the program takes to answer a question about an element
    int depth = 5;       // levels between the document window and each of its scroll areas
    EditorShown editor = EditorShown::labelled;
    // Bumped whenever the program makes its window elements anew (the window moved or was
    // resized, the program started again, or asked for): references to the old ones are stale.
    int generation = 0;
    int prompts = 0;  // times the system's permission prompt was shown
    int searches = 0; // application elements handed out; the reader asks for one per search
    bool operator==(const AXState&) const = default;
};

// Where things are on the screen, derived from the window, the view and the slide size.
struct Layout {
    Rect window;
    Rect ribbon;
    Rect thumbnails;
    Rect pane;     // the slide editor's scroll area
    Rect document; // its content: the slide with margins, at least the pane's size
    Rect slide;    // the slide itself
    Rect notes;
    Rect status;
    Rect verticalBar;   // overlay scroll bars inside the pane
    Rect horizontalBar;
    double scale = 1;   // screen points per slide point
};

struct Model {
    std::vector<Screen> screens; // the primary screen (origin 0, 0) first
    Point pointer;
    bool running = true;
    int pid = 0; // the program's process
    std::vector<App> others; // other running applications
    App front;
    DocumentWindow window;
    Presentation deck;                 // the presentation the document window shows
    std::optional<Presentation> other; // another open presentation, in a window behind
    Second second = Second::none;
    Focus focus = Focus::slide;
    Theme theme = defaultTheme();
    Addin addin;
    Delay delay;
    AXState ax;
    bool automationDenied = false;
    Units units = Units::points;
    std::map<std::string, std::string> links; // link id -> "opened", "soon" or "soon|note"
    std::vector<std::string> opened;          // links asked for, oldest first
    std::vector<std::string> urls;            // addresses opened with the system, oldest first
    bool operator==(const Model&) const = default;

    // A laptop's 2x screen with a 1x screen to its right, the program in front with three
    // empty slides and its add-in loaded at `addinVersion`.
    static Model standard(const std::string& addinVersion, int programPid);

    Layout layout() const;
    // The floating palette's frame; it stays at the same place over the document window.
    Rect paletteFrame() const {
        return {window.frame.right() - 200, window.frame.y + 160, 180, 120};
    }
    // The zoom the program shows, in percent (at Fit, the fitting one).
    double effectiveZoom() const { return layout().scale * 100; }
    // The screen that holds most of the rectangle; the primary one when none does.
    const Screen& screenOf(const Rect& r) const;
    Slide& currentSlide() { return deck.slides[deck.current]; }
    const Slide& currentSlide() const { return deck.slides[deck.current]; }
    Slide* slideById(std::int64_t id);
    // The open presentation the add-in names `key` (its presentationKey), none when no open
    // presentation has that name, and `ambiguous` set when more than one has.
    Presentation* presentationByKey(const std::string& key, bool& ambiguous);
    App program() const { return {programBundle, pid}; }
    bool programInFront() const { return running && front == program(); }
    // Whether the program shows a document window (and so its floating palette) at all.
    bool hasWindow() const { return running && window.view != View::none; }

    // Adds a blank slide at the end with a fresh identifier.
    void addSlide();
};

// How the add-in names a presentation in the geometry answer and expects it back in an
// insert: the program's full name of it (its file's path, or the name of one never saved),
// with "%", "|", TAB, CR and LF written %25, %7C, %09, %0D and %0A so that it stays one field.
std::string presentationKey(const Presentation& p);

// A presentation as a new one starts: three empty slides of 960 by 540 points.
Presentation newPresentation(const std::string& name);

// Window layout, in points.
inline constexpr double ribbonHeight = 140;
inline constexpr double statusHeight = 33;
inline constexpr double thumbnailWidth = 200;
inline constexpr double documentMargin = 18;
inline constexpr double scrollBarWidth = 15;
inline constexpr double minZoom = 10;
inline constexpr double maxZoom = 400;
inline constexpr double titleBarHeight = 28; // part of the ribbon band
inline constexpr int minAXDepth = 2;         // the window, a group, then its scroll areas
inline constexpr int maxAXDepth = 40;

} // namespace scribbet::standin
