#!/usr/bin/env python3
"""Scribbet.app's Info.plist as CMake configures it from resources/mac/Info.plist.in, and its
entitlements. Nothing here can build the bundle, so this is where a wrong key shows on Linux."""
import plistlib
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
MAC_CMAKE = (ROOT / "cmake/MacBundle.cmake").read_text()


def cmake_value(pattern, text):
    return re.search(pattern, text).group(1)


def rendered_plist():
    """The template with CMake's substitutions: @VAR@ and ${VAR}, from the values CMake has."""
    top = (ROOT / "CMakeLists.txt").read_text()
    values = {
        "PROJECT_VERSION": cmake_value(r"project\(Scribbet VERSION (\S+)", top),
        "CMAKE_OSX_DEPLOYMENT_TARGET": cmake_value(r"set\(CMAKE_OSX_DEPLOYMENT_TARGET (\S+) CACHE", top),
    }
    text = (ROOT / "resources/mac/Info.plist.in").read_text()
    for name, value in values.items():
        text = text.replace(f"@{name}@", value).replace("${" + name + "}", value)
    left = re.findall(r"@[A-Za-z_][A-Za-z0-9_]*@|\$\{[^}]*\}", text)
    assert not left, f"placeholders the test does not know CMake's value of: {left}"
    return plistlib.loads(text.encode()), values


class InfoPlistDeclaresTheSchemeAndTheHelperRole(unittest.TestCase):
    def test_identity_and_versions(self):
        plist, values = rendered_plist()
        expected = {"CFBundleIdentifier": "com.tarnwell.scribbet", "CFBundleName": "Scribbet",
                    "CFBundleDisplayName": "Scribbet", "CFBundleExecutable": "Scribbet", "CFBundlePackageType": "APPL",
                    "LSMinimumSystemVersion": "12.0", "NSPrincipalClass": "NSApplication"}
        self.assertEqual({k: plist.get(k) for k in expected}, expected)
        # Launch Services starts the file this names: it must be the bundle target's output.
        self.assertEqual(plist["CFBundleExecutable"], cmake_value(r"set\(SCRIBBET_BUNDLE_NAME (\w+)\)", MAC_CMAKE))
        for key in ("CFBundleShortVersionString", "CFBundleVersion"):
            self.assertEqual(plist[key], values["PROJECT_VERSION"])
            self.assertRegex(plist[key], r"^\d+\.\d+\.\d+$")  # three period-separated integers
        self.assertIs(plist["NSHighResolutionCapable"], True)

    def test_the_page_loads_from_this_machine_over_plain_http(self):
        # The layer's page comes from the program's own server on 127.0.0.1, which App Transport
        # Security refuses unless local loads are allowed; nothing else is let through.
        plist, _ = rendered_plist()
        self.assertEqual(plist.get("NSAppTransportSecurity"), {"NSAllowsLocalNetworking": True})

    def test_a_background_helper_that_takes_scribbet_links(self):
        plist, _ = rendered_plist()
        self.assertIs(plist["LSUIElement"], True)
        types = plist["CFBundleURLTypes"]
        self.assertEqual([s for t in types for s in t["CFBundleURLSchemes"]], ["scribbet"])
        self.assertTrue(all(t.get("CFBundleURLName") for t in types))
        why = plist["NSAppleEventsUsageDescription"]
        self.assertRegex(why, r"^[A-Z][^.!?]*PowerPoint[^.!?]*\.$")  # one plain sentence

    def test_the_entitlements_allow_apple_events_and_are_all_true(self):
        with open(ROOT / "resources/mac/Scribbet.entitlements", "rb") as f:
            entitlements = plistlib.load(f)
        self.assertIs(entitlements.get("com.apple.security.automation.apple-events"), True)
        # The libraries the app links are inside the bundle and signed with it: library
        # validation stays on.
        self.assertNotIn("com.apple.security.cs.disable-library-validation", entitlements)
        # A false entitlement is left out rather than written (Apple's convention for signing).
        self.assertTrue(all(v is True for v in entitlements.values()), entitlements)


if __name__ == "__main__":
    unittest.main()
