"""Slide identifiers for Impress pages, kept in the pages themselves.

Scribbet names slides by a number that stays with the slide when slides are moved, added or
removed (PowerPoint's SlideID). Impress has no such number, so the extension keeps one in each
page's UserDefinedAttributes, which ODP files keep. PPTX files drop them, and a copied slide
carries its original's number along, so every reading of the numbers goes through `assign`:

- a page whose kept number is valid and not taken by an earlier page keeps it;
- every other page gets a fresh number, in page order, above every number in use and above
  every number this document was seen to use before (a slide removed while Scribbet drew on
  it must not lend its number to a new slide), starting at 256 as PowerPoint's do.

After a round trip through PPTX the pages therefore come back as 256, 257, ... in page order.
"""

FIRST_ID = 256
LAST_ID = 2 ** 31 - 1
ATTRIBUTE = "scribbet:slide-id"
NAMESPACE = "urn:tarnwell:scribbet"


def parse_id(text):
    """The number a page keeps, or None when the text is not a plain decimal in range."""
    if not isinstance(text, str) or not text.isascii() or not text.isdigit() or len(text) > 10:
        return None
    value = int(text)
    return value if FIRST_ID <= value <= LAST_ID else None


def assign(stored, floor=FIRST_ID - 1):
    """Numbers for pages whose kept texts are `stored` (None where a page keeps none).

    `floor` is the highest number known to have been used; fresh numbers start above it and
    above every number that is kept. Returns a list of ints, one a page, all different.
    """
    kept = [parse_id(text) for text in stored]
    taken = set()
    result = []
    for value in kept:
        if value is not None and value not in taken:
            taken.add(value)
            result.append(value)
        else:
            result.append(None)
    top = max(taken | {floor, FIRST_ID - 1})
    for i, value in enumerate(result):
        if value is None:
            if top >= LAST_ID:
                # Only reachable with hostile files; reuse the lowest free number instead.
                top = _lowest_free(taken)
                result[i] = top
            else:
                top += 1
                result[i] = top
            taken.add(result[i])
    return result


def _lowest_free(taken):
    value = FIRST_ID
    while value in taken:
        value += 1
    return value


def _read(page):
    try:
        attrs = page.UserDefinedAttributes
        if attrs is not None and attrs.hasByName(ATTRIBUTE):
            return attrs.getByName(ATTRIBUTE).Value
    except Exception:  # noqa: BLE001 - a page without the property keeps no number
        pass
    return None


def _write(uno, page, value):
    attrs = page.UserDefinedAttributes
    data = uno.createUnoStruct("com.sun.star.xml.AttributeData")
    data.Type = "CDATA"
    data.Namespace = NAMESPACE
    data.Value = str(value)
    if attrs.hasByName(ATTRIBUTE):
        attrs.replaceByName(ATTRIBUTE, data)
    else:
        attrs.insertByName(ATTRIBUTE, data)
    page.UserDefinedAttributes = attrs


class SlideIds:
    """Reads and keeps the pages' numbers; one for the whole extension, keyed by document.

    Used on LibreOffice's main thread only. `doc_key` is a text that tells documents apart
    for the lifetime of soffice (Host gives the model's RuntimeUID).
    """

    def __init__(self, log=None):
        self._floors = {}
        self._log = log or (lambda text: None)

    def numbers(self, model, doc_key):
        """(page, number) for every page of the model, writing numbers that were missing.

        Writing a number changes the pages but not what the user made, so a document that
        was unmodified is left unmodified: closing it asks nothing, and the same numbers come
        back from page order when it is opened again.
        """
        import uno  # only inside LibreOffice; keeps the module importable by plain tests

        pages = model.getDrawPages()
        listed = [pages.getByIndex(i) for i in range(pages.getCount())]
        stored = [_read(page) for page in listed]
        numbers = assign(stored, self._floors.get(doc_key, FIRST_ID - 1))
        if numbers:
            self._floors[doc_key] = max(max(numbers), self._floors.get(doc_key, 0))
        changed = [(page, n) for page, old, n in zip(listed, stored, numbers)
                   if parse_id(old) != n]
        if changed:
            was_modified = model.isModified()
            try:
                for page, n in changed:
                    _write(uno, page, n)
            except Exception as e:  # noqa: BLE001 - the numbers are still right this time
                self._log("could not keep a slide number in its page: %s" % e)
            if not was_modified:
                model.setModified(False)
        return list(zip(listed, numbers))

    def slide_id(self, model, doc_key, page):
        """The number of `page` (a page of model), or None when the page is not in it."""
        for candidate, number in self.numbers(model, doc_key):
            if candidate == page:
                return number
        return None

    def page_by_id(self, model, doc_key, number):
        """The page of model numbered `number`, or None."""
        for page, n in self.numbers(model, doc_key):
            if n == number:
                return page
        return None

    def forget(self, doc_key):
        """Drops what is known of a closed document."""
        self._floors.pop(doc_key, None)
