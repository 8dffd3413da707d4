"""The toolbar's link and how Scribbet is found (no soffice)."""

import os
import unittest
from urllib.parse import parse_qs, unquote, urlsplit

import _paths  # noqa: F401
from scribbet_impress import ribbon


class LinkTest(unittest.TestCase):
    def test_only_unreserved_characters_stay(self):
        self.assertEqual(ribbon.percent_encode("OK|a b&c+d/é~-._"),
                         "OK%7Ca%20b%26c%2Bd%2F%C3%A9~-._")

    def test_a_lone_surrogate_becomes_the_replacement_character(self):
        self.assertEqual(ribbon.percent_encode("a\ud800b"), "a%EF%BF%BDb")
        self.assertEqual(ribbon.percent_encode("\U0001F600"), "%F0%9F%98%80")

    def test_the_link_carries_the_fields_and_the_tool_back_unchanged(self):
        fields = "960|540|256.004|289.004|998.397|706.595|77|80|60|1280|820|256|1|100"
        link = ribbon.draw_link(fields, "shape:rect")
        parts = urlsplit(link)
        self.assertEqual((parts.scheme, parts.netloc), ("scribbet", "draw"))
        query = parse_qs(parts.query)
        self.assertEqual(query, {"g": [fields], "tool": ["shape:rect"]})
        self.assertEqual(unquote(link.split("g=")[1].split("&")[0]), fields)

    def test_every_button_sends_its_tool(self):
        self.assertEqual(list(ribbon.TOOLS.values()),
                         ["pen", "highlighter", "shape:line", "shape:rect", "shape:ellipse",
                          "select", "direct"])

    def test_geometry_answers_become_fields_or_a_sentence(self):
        self.assertEqual(ribbon.geometry_fields("OK|1|2"), ("1|2", None))
        self.assertEqual(ribbon.geometry_fields("ERR|No window."), (None, "No window."))
        self.assertEqual(ribbon.geometry_fields(""), ("", None))


class LauncherTest(unittest.TestCase):
    def find(self, environ, on_path=(), executables=(), handler=False):
        def which(name, path=None):
            return "/usr/bin/" + name if name in on_path else None
        return ribbon.launcher(environ, which=which, executable=lambda p: p in executables,
                               xdg=lambda: handler)

    def test_scribbet_bin_wins_and_a_broken_one_is_not_passed_over(self):
        env = {"SCRIBBET_BIN": "/opt/s", "HOME": "/h"}
        self.assertEqual(self.find(env, on_path=["scribbet"], executables=["/opt/s"]),
                         ["/opt/s"])
        self.assertIsNone(self.find(env, on_path=["scribbet"]))

    def test_then_path_then_local_bin_then_xdg_open(self):
        env = {"HOME": "/h"}
        local = os.path.join("/h", ".local", "bin", "scribbet")
        self.assertEqual(self.find(env, on_path=["scribbet", "xdg-open"],
                                   executables=[local]), ["/usr/bin/scribbet"])
        self.assertEqual(self.find(env, on_path=["xdg-open"], executables=[local]), [local])
        self.assertEqual(self.find(env, on_path=["xdg-open"], handler=True),
                         ["/usr/bin/xdg-open"])

    def test_nothing_found_is_none(self):
        self.assertIsNone(self.find({"HOME": "/h"}, on_path=["xdg-open"], handler=False))
        self.assertIsNone(self.find({"HOME": "/h"}, handler=True))

    def test_the_sentence_says_what_to_do(self):
        self.assertIn("not installed", ribbon.NOT_INSTALLED)
        self.assertIn("README", ribbon.NOT_INSTALLED)
        self.assertEqual(ribbon.NOT_INSTALLED.count(". "), 0)


if __name__ == "__main__":
    unittest.main()
