"""The add-in's macros, answered from the real Impress document; main thread only.

Each macro takes texts and gives one answer text ("OK|..." or "ERR|sentence") and never
raises: an error that escaped would reach Scribbet as a broken request instead of a sentence
it can show. The drawing macros (SCBT_Slide, SCBT_Theme, SCBT_Insert, SCBT_LinkQuery) live
in their own modules; this table only routes to them.
"""

import importlib

from . import geometry
from .logfile import log_exception

PREFIX = "SCBT_Pen."
WRONG_ARGUMENTS = "Wrong number of arguments or invalid property assignment."
FAILED = "Impress could not answer: %s"


class Later:
    """An answer that is not known yet: `then` runs in a later turn of the main thread, after
    the events the macro's own change posted (Impress applies a Fit through its dispatcher,
    after the call that asked for it returns), and its result is the answer."""

    def __init__(self, then):
        self.then = then


def _geom(host, view, args):
    return geometry.geometry_answer(view.facts())


def _version(host, view, args):
    return "OK|" + host.version


def _zoom(host, view, args):
    if args[0].strip() != "fit":
        return 'ERR|The add-in cannot set the zoom to "%s".' % args[0]
    facts = view.facts()
    sentence = geometry.problem(facts)
    if sentence:
        return "ERR|" + sentence
    model = host.model()
    controller = model.getCurrentController()
    from com.sun.star.view.DocumentZoomType import ENTIRE_PAGE
    controller.ZoomType = ENTIRE_PAGE

    def fitted():
        if host.model() != model or model.getCurrentController() != controller:
            return "ERR|" + geometry.NO_WINDOW  # the window went while Impress fitted it
        view.remember_fit(model, controller)
        facts = view.facts()
        sentence = geometry.problem(facts)
        if sentence:
            return "ERR|" + sentence
        return "OK|" + geometry.num(geometry.round_half_away(facts["scale"] * 100))
    return Later(fitted)


def _features(host, view, args):
    # What this add-in does beyond the first macros: Scribbet sends an arrow as one shape only
    # to an add-in that names arrowhead here.
    return "OK|arrowhead"


def _elsewhere(module, function):
    """A macro whose body lives in another module of the package, loaded when first used."""
    def run(host, view, args):
        target = getattr(importlib.import_module("." + module, __package__), function)
        return target(host, args)
    return run


# name: (fewest arguments, most arguments, body)
TABLE = {
    "SCBT_Geom": (0, 0, _geom),
    "SCBT_Where": (0, 0, _geom),
    "SCBT_Zoom": (1, 1, _zoom),
    "SCBT_Version": (0, 0, _version),
    "SCBT_Slide": (1, 1, _elsewhere("picture", "slide")),
    "SCBT_Theme": (0, 0, _elsewhere("theme", "theme")),
    "SCBT_Insert": (1, 8, _elsewhere("placing", "insert")),
    "SCBT_Features": (0, 0, _features),
    "SCBT_LinkQuery": (1, 1, _elsewhere("links", "query")),
}


def known(full_name):
    """The macro's short name when full_name is one this extension answers, else None."""
    if not isinstance(full_name, str) or not full_name.startswith(PREFIX):
        return None
    name = full_name[len(PREFIX):]
    return name if name in TABLE else None


def run(host, view, name, args):
    """Runs macro name (short, known) with args (texts); the answer text, never an exception."""
    fewest, most, body = TABLE[name]
    if not fewest <= len(args) <= most:
        return "ERR|" + WRONG_ARGUMENTS
    return _answer(host, name, lambda: body(host, view, list(args)))


def _answer(host, name, work):
    try:
        answer = work()
    except Exception as e:  # noqa: BLE001 - a macro never throws
        log_exception("macro %s" % name)
        return "ERR|" + FAILED % (str(e).splitlines() or ["an internal error"])[0]
    if isinstance(answer, Later):
        then = answer.then
        return Later(lambda: _answer(host, name, then))
    if not isinstance(answer, str):
        host.log("macro %s answered %r" % (name, type(answer)))
        return "ERR|" + FAILED % "the macro gave no text"
    return answer
