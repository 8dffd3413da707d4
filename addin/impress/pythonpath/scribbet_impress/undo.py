"""One Ctrl-Z takes a whole placing back, one Ctrl-Y brings it again.

Impress records nothing for shapes added through its API, yet records a step of its own for
a shape removed or renamed that way. So a placing runs with the document's undo manager locked
(nothing of Impress's own lands on the stack) and then adds one step, "Scribbet drawing": an
undo context holding a `PlacingUndo`, whose undo removes the placed shapes and puts the
replaced ones back in their places, and whose redo does the reverse.

A shape removed with the undo manager locked is gone for good inside Impress (its wrapper is
left dead), and keeping the wrappers of removed shapes alive is what once made a later PPTX
save abort soffice. So the step holds no shape at all: it holds what it needs to make each
shape again (a `Snapshot`: its kind, its outline, its look, its z-place) and finds the shapes
it must remove by their Scribbet identifiers when it runs.
"""

import unohelper
from com.sun.star.document import XUndoAction

from . import logfile

TITLE = "Scribbet drawing"
NAME_PREFIX = "Scribbet "

# The kinds of shape Scribbet places (ClosedBezierShape without curves reads back as a
# PolyPolygonShape, a two-point path as a LineShape), and CustomShape, which is what a
# freeform comes back as from a PPTX file. A shape of another kind is never taken for one of
# Scribbet's, whatever its name.
CUSTOM = "com.sun.star.drawing.CustomShape"
PATH_TYPES = {
    "com.sun.star.drawing.ClosedBezierShape", "com.sun.star.drawing.OpenBezierShape",
    "com.sun.star.drawing.PolyPolygonShape", "com.sun.star.drawing.PolyLineShape",
    "com.sun.star.drawing.LineShape", CUSTOM,
}
_CLOSED_KINDS = {"POLY", "PATHFILL", "FREEFILL"}

# What a snapshot keeps of a shape's look, besides its outline and text: what Scribbet sets
# and what a user is likely to have changed on a drawn stroke since.
LOOK = (
    "Name", "Description", "Title", "Visible", "Printable", "MoveProtect", "SizeProtect",
    "LayerID", "LineStyle", "LineColor", "LineWidth", "LineTransparence", "LineDash",
    "LineCap", "LineJoint", "LineStart", "LineEnd", "LineStartWidth", "LineEndWidth",
    "LineStartCenter", "LineEndCenter", "FillStyle", "FillColor", "FillTransparence",
    "FillColorTheme", "Shadow", "ShadowColor", "ShadowTransparence", "ShadowXDistance",
    "ShadowYDistance", "ShadowBlur", "GlowEffectRadius", "GlowEffectColor",
    "GlowEffectTransparency", "SoftEdgeRadius",
)
# Kept only when the fill uses them: setting them otherwise adds entries to the document's
# gradient, hatch and bitmap tables.
FILL_EXTRAS = {"GRADIENT": ("FillGradient",), "HATCH": ("FillHatch", "FillBackground"),
               "BITMAP": ("FillBitmap", "FillBitmapMode")}


def shape_id(shape):
    """The Scribbet identifier of a shape Scribbet placed, or None for any other shape."""
    try:
        name = shape.Name
        if not name.startswith(NAME_PREFIX) or shape.ShapeType not in PATH_TYPES:
            return None
    except Exception:  # noqa: BLE001 - a shape of a kind without these properties
        return None
    digits = name[len(NAME_PREFIX):]
    return int(digits) if digits.isascii() and digits.isdigit() and len(digits) < 12 else None


def shapes_by_id(page):
    """{identifier: shape} of Scribbet's shapes on page; the lowest in z-order wins a tie (a
    copy the user pasted keeps its original's name)."""
    found = {}
    for i in range(page.getCount()):
        shape = page.getByIndex(i)
        sid = shape_id(shape)
        if sid is not None and sid not in found:
            found[sid] = shape
    return found


class Snapshot:
    """Enough of one shape to make it again, in its place: taken just before it is removed."""

    def __init__(self, shape):
        self.sid = shape_id(shape)
        self.zorder = shape.ZOrder
        self.custom = shape.ShapeType == CUSTOM
        if self.custom:  # its outline is its geometry, placed by its transformation
            self.outline = (shape.CustomShapeGeometry, shape.Transformation)
        else:
            self.closed = shape.PolygonKind.value in _CLOSED_KINDS
            self.outline = shape.PolyPolygonBezier
        names = list(LOOK) + list(FILL_EXTRAS.get(shape.FillStyle.value, ()))
        info = shape.getPropertySetInfo()
        names = [n for n in names if info.hasPropertyByName(n)]
        self.look = dict(zip(names, shape.getPropertyValues(tuple(names))))
        self.text = shape.getString()

    def make(self, model, page):
        """Adds the shape again and moves it to its old z-place; returns it."""
        if self.custom:
            shape = model.createInstance(CUSTOM)
            page.add(shape)
            shape.CustomShapeGeometry, shape.Transformation = self.outline
        else:
            kind = "ClosedBezierShape" if self.closed else "OpenBezierShape"
            shape = model.createInstance("com.sun.star.drawing." + kind)
            page.add(shape)
            shape.PolyPolygonBezier = self.outline
        for name, value in self.look.items():
            try:
                shape.setPropertyValue(name, value)
            except Exception as e:  # noqa: BLE001 - one lost detail must not lose the shape
                logfile.log("could not give a shape back its %s: %s" % (name, e))
        if self.text:
            shape.setString(self.text)
        shape.ZOrder = self.zorder
        return shape


def remove(page, sids, refused=None):
    """Removes the shapes on page with these identifiers, in the order given; returns the
    snapshots of those that went, lowest first. One that Impress will not remove stays (and is
    not made again). With a list `refused`, each such shape's (identifier, the error) is added
    to it, and a refusal before any shape went ends the removal there: nothing has gone, so
    the caller can still leave the page as it was."""
    found = shapes_by_id(page)
    # All taken before any goes, so that every z-place is one of the same page.
    taken = [(Snapshot(found[sid]), found[sid]) for sid in dict.fromkeys(sids) if sid in found]
    snaps = []
    for snap, shape in taken:
        try:
            page.remove(shape)
        except Exception as e:  # noqa: BLE001 - the drawing is not lost, the user may remove it
            logfile.log("could not remove shape %s: %s" % (snap.sid, e))
            if refused is not None:
                refused.append((snap.sid, e))
                if not snaps:
                    break
            continue
        snaps.append(snap)
    return sorted(snaps, key=lambda s: s.zorder)


def restore(model, page, snaps):
    """Makes the snapshots' shapes again, lowest z-place first, so each lands where it was."""
    for snap in sorted(snaps, key=lambda s: s.zorder):
        snap.make(model, page)


class PlacingUndo(unohelper.Base, XUndoAction):
    """The undo step of one placing: `placed` identifiers came, `gone` snapshots went."""

    def __init__(self, model, page, placed, gone):
        self.Title = TITLE
        self._model = model
        self._page = page
        self._placed = list(placed)
        self._placed_snaps = []
        self._gone = list(gone)

    def _swap(self, remove_ids, bring_back, what):
        model = self._model
        model.lockControllers()
        try:
            snaps = remove(self._page, remove_ids)
            restore(model, self._page, bring_back)
            return snaps
        except Exception:  # noqa: BLE001 - never into LibreOffice's undo machinery
            logfile.log_exception("could not %s a Scribbet drawing" % what)
            return None
        finally:
            model.unlockControllers()

    def undo(self):
        snaps = self._swap(self._placed, self._gone, "undo")
        if snaps is not None:
            self._placed_snaps = snaps

    def redo(self):
        snaps = self._swap([s.sid for s in self._gone], self._placed_snaps, "redo")
        if snaps is not None:
            self._gone = snaps
