"""SCBT_Theme: the twelve theme colours of the current slide's master.

Impress 7.4 keeps a master page's theme in its `Theme` property (a list of named values) whose
`ColorScheme` holds the twelve colours in the answer's order: dark 1, light 1, dark 2, light 2,
accent 1-6, hyperlink, followed hyperlink. A document made in Impress itself usually has no
theme at all; it is then shown, and drawn with, the default Office colours that Scribbet's
other hosts answer for a new presentation, and the log says so.
"""

from . import colours, logfile

_told = set()


def scheme(page):
    """(twelve 0xRRGGBB colours, True when they are the document's own) for page's master."""
    try:
        values = {p.Name: p.Value for p in page.getMasterPage().getPropertyValue("Theme")}
        found = tuple(int(c) & 0xFFFFFF for c in values.get("ColorScheme") or ())
        if len(found) == 12:
            return found, True
        reason = "no colour scheme" if not found else "%d colours" % len(found)
    except Exception as e:  # noqa: BLE001 - a master without a theme property
        reason = str(e) or type(e).__name__
    if reason not in _told and len(_told) < 32:  # not at every stroke
        _told.add(reason)
        logfile.log("the slide's master has no usable theme (%s); using the default "
                    "Office colours" % reason)
    return colours.DEFAULT_THEME, False


def theme(host, args):
    """SCBT_Theme(); never raises."""
    from . import placing
    try:
        _, _, page = placing.find_view(host)
        found, _ = scheme(page)
        return "OK|" + "|".join(colours.hex_colour(c) for c in found)
    except placing.Refusal as r:
        return "ERR|" + str(r)
    except Exception as e:  # noqa: BLE001 - a macro never throws
        logfile.log_exception("SCBT_Theme")
        return "ERR|Impress did not give the slide's theme colours (%s)." % placing._reason(e)
