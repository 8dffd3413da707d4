"""The extension's version; the build writes the release's number over "dev"."""

VERSION = "dev"
