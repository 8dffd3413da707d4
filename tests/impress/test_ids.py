"""Slide identifiers: the fallback rules, and keeping them in pages (with fake pages)."""

import sys
import types
import unittest

import _paths  # noqa: F401
from scribbet_impress import ids


class AssignTest(unittest.TestCase):
    def test_round_trip_without_ids_numbers_pages_in_order_from_256(self):
        self.assertEqual(ids.assign([None, None, None]), [256, 257, 258])

    def test_kept_ids_stay_and_fresh_ones_go_above_all_of_them(self):
        self.assertEqual(ids.assign(["300", None, "257"]), [300, 301, 257])

    def test_a_copied_slide_gets_a_fresh_id_and_the_original_keeps_its_own(self):
        self.assertEqual(ids.assign(["256", "256", "257"]), [256, 258, 257])

    def test_texts_that_are_not_plain_numbers_in_range_are_replaced(self):
        for bad in ["", "abc", "12", "255", "-300", "+300", " 300", "3e2", "٣٠٠", "99999999999",
                    str(2 ** 31)]:
            with self.subTest(bad=bad):
                self.assertEqual(ids.assign([bad, "256"]), [257, 256])

    def test_a_number_seen_before_is_not_given_again(self):
        self.assertEqual(ids.assign([None], floor=400), [401])

    def test_ids_never_repeat_even_at_the_top_of_the_range(self):
        top = str(ids.LAST_ID)
        got = ids.assign([top, None, None])
        self.assertEqual(got[0], ids.LAST_ID)
        self.assertEqual(len(set(got)), 3)
        self.assertTrue(all(ids.FIRST_ID <= n <= ids.LAST_ID for n in got))


class FakeAttrs:
    def __init__(self, values=None):
        self.values = dict(values or {})

    def hasByName(self, name):
        return name in self.values

    def getByName(self, name):
        return types.SimpleNamespace(Value=self.values[name])

    def insertByName(self, name, data):
        assert name not in self.values
        self.values[name] = data.Value

    def replaceByName(self, name, data):
        self.values[name] = data.Value


class FakePage:
    def __init__(self, kept=None):
        self._attrs = FakeAttrs({ids.ATTRIBUTE: kept} if kept is not None else {})

    @property
    def UserDefinedAttributes(self):
        return FakeAttrs(self._attrs.values)

    @UserDefinedAttributes.setter
    def UserDefinedAttributes(self, attrs):
        self._attrs = FakeAttrs(attrs.values)


class FakeModel:
    def __init__(self, pages, modified=False):
        self.pages = pages
        self.modified = modified

    def getDrawPages(self):
        pages = self.pages
        return types.SimpleNamespace(getCount=lambda: len(pages),
                                     getByIndex=lambda i: pages[i])

    def isModified(self):
        return self.modified

    def setModified(self, value):
        self.modified = value


class SlideIdsTest(unittest.TestCase):
    def setUp(self):
        fake_uno = types.ModuleType("uno")
        fake_uno.createUnoStruct = lambda name: types.SimpleNamespace()
        self._saved = sys.modules.get("uno")
        sys.modules["uno"] = fake_uno

    def tearDown(self):
        if self._saved is None:
            sys.modules.pop("uno", None)
        else:
            sys.modules["uno"] = self._saved

    def test_missing_ids_are_written_and_an_unmodified_document_stays_unmodified(self):
        model = FakeModel([FakePage(), FakePage("256"), FakePage()])
        book = ids.SlideIds()
        self.assertEqual([n for _, n in book.numbers(model, "d")], [257, 256, 258])
        self.assertEqual([p.UserDefinedAttributes.getByName(ids.ATTRIBUTE).Value
                          for p in model.pages], ["257", "256", "258"])
        self.assertFalse(model.modified)

    def test_a_modified_document_stays_modified(self):
        model = FakeModel([FakePage()], modified=True)
        ids.SlideIds().numbers(model, "d")
        self.assertTrue(model.modified)

    def test_removed_last_slide_does_not_lend_its_id_to_a_new_one(self):
        model = FakeModel([FakePage(), FakePage()])
        book = ids.SlideIds()
        book.numbers(model, "d")
        model.pages.pop()
        model.pages.append(FakePage())
        self.assertEqual([n for _, n in book.numbers(model, "d")], [256, 258])

    def test_page_lookup_both_ways(self):
        model = FakeModel([FakePage("300"), FakePage("256")])
        book = ids.SlideIds()
        self.assertIs(book.page_by_id(model, "d", 256), model.pages[1])
        self.assertIsNone(book.page_by_id(model, "d", 999))
        self.assertEqual(book.slide_id(model, "d", model.pages[0]), 300)
        self.assertIsNone(book.slide_id(model, "d", FakePage()))


if __name__ == "__main__":
    unittest.main()
