"""Scribbet's extension for LibreOffice Impress: the socket Scribbet talks to and the answers.

The modules here run inside soffice's own Python. They keep to one rule above all: nothing
they do may crash LibreOffice or hold up its main thread, so every failure becomes a value
(an answer text or a logged line) at the edge where LibreOffice calls in.
"""
