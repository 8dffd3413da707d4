"""SCBT_Slide: the current slide as a PNG picture of a given width, in Base64.

The answer is "OK|" slide number|width|height (points)|the picture. Impress's own graphic
export draws the page, straight into memory (no scratch file to leave behind), at the width
asked and the height the slide's shape gives it.
"""

import base64

import uno

from . import logfile, pathtext, placing

MAX_PIXELS = 8192


def _props(**values):
    out = []
    for name, value in values.items():
        p = uno.createUnoStruct("com.sun.star.beans.PropertyValue")
        p.Name, p.Value = name, value
        out.append(p)
    return tuple(out)


def png(host, page, width, height):
    """The page drawn as PNG bytes of width x height pixels."""
    stream = host.smgr.createInstanceWithContext("com.sun.star.io.SequenceOutputStream",
                                                 host.ctx)
    export = host.smgr.createInstanceWithContext("com.sun.star.drawing.GraphicExportFilter",
                                                 host.ctx)
    export.setSourceDocument(page)
    size = uno.Any("[]com.sun.star.beans.PropertyValue",
                   _props(PixelWidth=width, PixelHeight=height))
    export.filter(_props(OutputStream=stream, MediaType="image/png", FilterData=size))
    return stream.getWrittenBytes().value


def picture_height(width, slide_w, slide_h):
    """The picture's height in whole pixels (half-way rounds up), at least 1."""
    return max(1, int(width * slide_h / slide_w + 0.5))


def slide(host, args):
    """SCBT_Slide(width); never raises."""
    try:
        width = pathtext.read_whole(pathtext.trim(str(args[0]) if args else ""))
        if width is None or not 1 <= width <= MAX_PIXELS:
            raise placing.Refusal(
                "The picture width must be a whole number of pixels from 1 to 8192.")
        _, _, page = placing.find_view(host)
        slide_w = pathtext.points_of(page.Width)
        slide_h = pathtext.points_of(page.Height)
        height = picture_height(width, page.Width, page.Height)
        if height > MAX_PIXELS:
            raise placing.Refusal("The slide picture would be more than 8192 pixels tall.")
        data = png(host, page, width, height)
        if not data:
            raise placing.Refusal("The slide picture could not be made.")
        return "OK|%d|%s|%s|%s" % (page.Number, pathtext.num(slide_w), pathtext.num(slide_h),
                                   base64.b64encode(data).decode("ascii"))
    except placing.Refusal as r:
        return "ERR|" + str(r)
    except Exception as e:  # noqa: BLE001 - a macro never throws
        logfile.log_exception("SCBT_Slide")
        return "ERR|The slide picture could not be made (%s)." % placing._reason(e)
