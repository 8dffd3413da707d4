"""SCBT_Insert: the drawing placed on a slide as freeforms, one undo step.

Everything the call names is read and checked first (the path, both colours, the width, the
slide, every shape to replace), and any fault answers ERR| and one sentence with the slide
exactly as it was. Then each subpath becomes one shape on top, in path order: closed (Z) a
ClosedBezierShape, open an OpenBezierShape; then the replaced shapes go. The answer is
"OK|" and the count, then a line per placed shape: k (its subpath's place, from 0), name, id,
left, top, width, height, rotation, flipped horizontally, vertically (TABs); then "kept" TAB
id for each replaced shape Impress would not remove once others had gone.

A shape's identifier is a number kept in its Name, "Scribbet <id>": Impress has no shape
number of its own that lasts, and the Name is what survives both ODP and PPTX. A new number
is one above every number in the document, so a placed shape never shares one with another.
`replace` finds shapes by it on the named slide.

The words of the answers are those of Scribbet's other hosts with Impress's name in them.
`find_view` is shared with the other macros that work on the slide showing in the window.
"""

import uno

from . import colours, geometry, logfile, pathtext, theme, undo, view

NO_WINDOW = geometry.NO_WINDOW
NOT_NORMAL = geometry.NOT_NORMAL
READ_ONLY = "The presentation is open read-only in Impress, so nothing can be placed on it."

MAX_LINE_WIDTH = 1584  # points; the heaviest outline PowerPoint allows, kept alike here
FIRST_SHAPE_ID = 2  # as PowerPoint numbers a slide's first shape
DEFAULTS = ("", "#1F1F1F", "1", "none", "", "", "", "")
# Impress's own "Arrow" line end: a triangle with its tip at the top, where the line ends;
# LineEndWidth sizes it. Three line widths wide, as PowerPoint's middle arrowhead.
ARROW_NAME = "Arrow"
ARROW_POLYGON = ((10, 0), (0, 30), (20, 30), (10, 0))
ARROW_WIDTHS = 3
GONE = "The presentation you drew on is no longer open in Impress, so the drawing was not placed."


class Refusal(Exception):
    """A call that cannot be answered with OK; its message is the user's sentence."""


def find_view(host):
    """(model, controller, page) of the current document's Normal view and its slide, or a
    Refusal saying why there is none."""
    model = host.model()
    controller = host.controller() if model is not None else None
    if controller is None:
        raise Refusal(NO_WINDOW)
    if not is_normal_view(controller):
        raise Refusal(NOT_NORMAL)
    page = controller.getCurrentPage()
    if page is None:
        raise Refusal("There is no slide showing in Impress's window.")
    return model, controller, page


def is_normal_view(controller):
    """True for the slide editor (Impress's Normal view) showing slides, not their masters:
    a drawing placed on a master would show on every slide."""
    if view.center_view(controller) != view.NORMAL_VIEW:
        return False
    try:
        return not controller.getPropertyValue("IsMasterPageMode")
    except Exception:  # noqa: BLE001 - a controller without the property shows no master
        return True


class Plan:
    """What an insert asks for, read whole before anything on the slide changes."""

    subpaths = ()
    stroke = fill = None
    width = 1.0
    model = page = None
    replace = ()
    arrowhead = False  # every freeform's line ends in Impress's arrow


def _plan(host, args):
    a = list(args[:8]) + list(DEFAULTS[len(args):])
    plan = Plan()
    # No path but shapes to replace: the drawing's items were deleted, so their shapes go and
    # nothing new comes. With nothing to replace either, the parser's "nothing to place" stands.
    if not pathtext.is_blank(a[0]) or pathtext.is_blank(a[4], ","):
        try:
            plan.subpaths = pathtext.parse(a[0])
        except pathtext.PathError as e:
            raise Refusal(str(e)) from None
    plan.stroke = colours.parse(pathtext.trim(a[1]))
    if plan.stroke is None:
        raise Refusal('The outline colour "%s" is not one the add-in knows.' % a[1])
    plan.fill = colours.parse(pathtext.trim(a[3]))
    if plan.fill is None:
        raise Refusal('The fill colour "%s" is not one the add-in knows.' % a[3])
    width = pathtext.read_finite(pathtext.trim(a[2]))
    if width is None or not 0 <= width <= MAX_LINE_WIDTH:
        raise Refusal('The line width "%s" is not a number of points from 0 to 1584.' % a[2])
    plan.width = width
    head = pathtext.trim(a[7])
    if head not in ("", "none", "triangle"):
        raise Refusal('The arrowhead "%s" is not one the add-in knows.' % a[7])
    plan.arrowhead = head == "triangle"
    plan.model, plan.page = _find_slide(host, pathtext.trim(a[5]), a[6])
    plan.replace = _find_replaced(plan.page, a[4])
    return plan


def _find_slide(host, text, key=""):
    """(model, page): in the document the geometry answer named `key` (found among all open
    documents: slide identifiers repeat from one document to the next, so the current one
    would take a drawing made on another without a word), else in the current document; its
    current slide when text is empty, else the slide with that identifier. A slide named by
    identifier needs no particular view; without a key it is looked up in the window's
    document, and without a window there is no telling which document the drawing was made on."""
    if key:
        model = host.model_by_key(key)
        if model is None:
            raise Refusal(GONE)
        if not text:
            return model, _current_page(host, model)
    elif not text:
        model, _, page = find_view(host)
        return model, page
    else:
        model = host.model()
        if model is None or host.controller() is None:
            raise Refusal(NO_WINDOW)
    number = pathtext.read_whole(text)
    page = host.page_by_id(number, model) if number is not None else None
    if page is None:
        raise Refusal("There is no slide with the identifier %s." % text)
    return model, page


def _current_page(host, model):
    """The slide model's window shows: the current document's refusals when it is the current
    one, else its own controller's page."""
    if model == host.model():
        return find_view(host)[2]
    controller = model.getCurrentController()
    if controller is None or not is_normal_view(controller) or controller.getCurrentPage() is None:
        raise Refusal("There is no slide showing in Impress's window of the presentation you drew on.")
    return controller.getCurrentPage()


def _find_replaced(page, text):
    """The identifiers `text` lists (comma-separated) of shapes on page, each once."""
    present = undo.shapes_by_id(page)
    wanted = []
    for piece in text.split(","):
        piece = pathtext.trim(piece)
        if not piece:
            continue
        sid = pathtext.read_whole(piece)
        if sid not in present:
            raise Refusal("There is no shape with the identifier %s on that slide." % piece)
        if sid not in wanted:
            wanted.append(sid)
    return wanted


def next_shape_id(model):
    """One above every Scribbet identifier on any slide of the document."""
    top = FIRST_SHAPE_ID - 1
    pages = model.getDrawPages()
    for i in range(pages.getCount()):
        ids = undo.shapes_by_id(pages.getByIndex(i))
        if ids:
            top = max(top, max(ids))
    return top + 1


def outline(subpath):
    """The subpath as Impress's PolyPolygonBezierCoords, in 1/100 mm."""
    normal = uno.Enum("com.sun.star.drawing.PolygonFlags", "NORMAL")
    control = uno.Enum("com.sun.star.drawing.PolygonFlags", "CONTROL")
    points, flags = [subpath.start], [normal]
    for seg in subpath.segments:
        if seg.cubic:
            points += [seg.c1, seg.c2]
            flags += [control, control]
        points.append(seg.to)
        flags.append(normal)
    point = uno.getClass("com.sun.star.awt.Point")
    coords = uno.createUnoStruct("com.sun.star.drawing.PolyPolygonBezierCoords")
    hmm = pathtext.hmm
    coords.Coordinates = (tuple(point(hmm(x), hmm(y)) for x, y in points),)
    coords.Flags = (tuple(flags),)
    return coords


def style(plan, theme_colours, tie):
    """The shape properties every placed shape of this plan gets, as {name: value}. A theme
    fill is tied to the theme only when the document has one (`tie`): tied to none, a PPTX
    file would give it the colour of whatever theme LibreOffice writes there instead."""
    line_style = uno.Enum("com.sun.star.drawing.LineStyle",
                          "NONE" if plan.stroke.kind == colours.NONE or plan.width == 0
                          else "SOLID")
    fill_style = uno.Enum("com.sun.star.drawing.FillStyle",
                          "NONE" if plan.fill.kind == colours.NONE else "SOLID")
    props = {
        "LineStyle": line_style,
        "LineWidth": pathtext.hmm(plan.width),
        "LineColor": plan.stroke.colour(theme_colours),
        # Impress 7.4 cannot tie an outline to the theme: a theme outline gets its colour.
        "LineTransparence": plan.stroke.transparence(),
        "FillStyle": fill_style,
        "FillColor": plan.fill.colour(theme_colours),
        "FillTransparence": plan.fill.transparence(),
    }
    if plan.fill.kind == colours.THEME and tie:
        props["FillColorTheme"] = plan.fill.theme_index()
    if plan.arrowhead:
        props.update(arrow_end(plan.width))
    return props


def arrow_end(width):
    """The line-end properties of Impress's arrow for a line `width` points wide."""
    point = uno.getClass("com.sun.star.awt.Point")
    normal = uno.Enum("com.sun.star.drawing.PolygonFlags", "NORMAL")
    coords = uno.createUnoStruct("com.sun.star.drawing.PolyPolygonBezierCoords")
    coords.Coordinates = (tuple(point(x, y) for x, y in ARROW_POLYGON),)
    coords.Flags = ((normal,) * len(ARROW_POLYGON),)
    return {"LineEnd": coords, "LineEndName": ARROW_NAME, "LineEndCenter": False,
            "LineEndWidth": pathtext.hmm(ARROW_WIDTHS * max(width, 1.0))}


def placed_line(k, shape):
    """k, name, id, left, top, width, height, rotation, flipped horizontally, vertically."""
    pos, size = shape.Position, shape.Size
    left, top = pathtext.points_of(pos.X), pathtext.points_of(pos.Y)
    right = pathtext.points_of(pos.X + size.Width)
    bottom = pathtext.points_of(pos.Y + size.Height)
    rotation = 0
    # A two-point path is a line to Impress, whose angle reads as the line's direction; no
    # freeform is turned when placed. Other turns: Impress counts counter-clockwise, the
    # answers (like PowerPoint) clockwise.
    if shape.ShapeType != undo.CUSTOM and shape.PolygonKind.value != "LINE":
        rotation = (360 - shape.RotateAngle / 100) % 360
    name = shape.Name.replace("\t", " ").replace("\r", " ").replace("\n", " ")
    fields = [str(k), name, str(undo.shape_id(shape))]
    fields += [pathtext.num(v) for v in (left, top, right - left, bottom - top, rotation)]
    return "\t".join(fields + ["0", "0"])  # Impress keeps no flip of a freeform


def _build(model, page, subpath, props, sid):
    kind = "ClosedBezierShape" if subpath.closed else "OpenBezierShape"
    shape = model.createInstance("com.sun.star.drawing." + kind)
    page.add(shape)
    shape.PolyPolygonBezier = outline(subpath)
    names = tuple(sorted(props)) + ("Name",)
    shape.setPropertyValues(names, tuple(props[n] for n in names[:-1]) +
                            (undo.NAME_PREFIX + str(sid),))
    return shape


def _place(plan):
    model, page = plan.model, plan.page
    manager = model.getUndoManager()
    props = style(plan, *theme.scheme(page)) if plan.subpaths else {}
    first = next_shape_id(model) if plan.subpaths else 0
    added, lines = [], []
    model.lockControllers()
    manager.lock()  # Impress's own steps for our changes would split the one undo step
    try:
        try:
            for k, subpath in enumerate(plan.subpaths):
                added.append(_build(model, page, subpath, props, first + k))
                lines.append(placed_line(k, added[-1]))
        except Exception as e:  # noqa: BLE001 - answered, and the slide put back
            logfile.log_exception("placing a drawing")
            for shape in added:
                _quietly(page.remove, shape)
            raise Refusal("Impress could not place the drawing (%s)." % _reason(e)) from None
        # The old shapes go only once the new ones are in place. When Impress refuses the
        # first, nothing has gone: the new ones go again and the slide is as it was. A refusal
        # after others went is answered as PowerPoint's add-in answers it (whose deleted
        # shapes cannot come back with their identifiers): the drawing stays, and each shape
        # still on the slide is named in a "kept" line, never passed over with a plain OK.
        refused = []
        gone = undo.remove(page, plan.replace, refused)
        if refused and not gone:
            sid, error = refused[0]
            for shape in added:
                _quietly(page.remove, shape)
            raise Refusal("Impress would not remove the shape with the identifier %d, so the "
                          "slide is left as it was (%s)." % (sid, _reason(error)))
    finally:
        manager.unlock()
        model.unlockControllers()
    _record(manager, undo.PlacingUndo(model, page, [first + k for k in range(len(added))],
                                      gone))
    kept = "".join("\nkept\t%d" % sid for sid, _ in refused)
    return "OK|%d" % len(added) + "".join("\n" + line for line in lines) + kept


def _record(manager, action):
    try:
        manager.enterUndoContext(undo.TITLE)
        try:
            manager.addUndoAction(action)
        finally:
            manager.leaveUndoContext()
    except Exception:  # noqa: BLE001 - the drawing stands; only its undo step is missing
        logfile.log_exception("recording the undo step of a drawing")


def _quietly(call, *args):
    try:
        call(*args)
    except Exception:  # noqa: BLE001
        pass


def _reason(e):
    text = " ".join(str(getattr(e, "Message", "") or e).split()).rstrip(".")
    return text.replace("|", "/") or type(e).__name__


def insert(host, args):
    """SCBT_Insert(path, stroke, width, fill, replace, slide, presentation, arrowhead); never
    raises."""
    try:
        plan = _plan(host, [str(a) for a in args])
        if plan.model.isReadonly():
            raise Refusal(READ_ONLY)
        return _place(plan)
    except Refusal as r:
        return "ERR|" + str(r)
    except Exception as e:  # noqa: BLE001 - a macro never throws
        logfile.log_exception("SCBT_Insert")
        return "ERR|Impress could not place the drawing (%s)." % _reason(e)
