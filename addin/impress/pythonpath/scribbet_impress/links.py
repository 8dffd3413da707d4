"""SCBT_LinkQuery: what the drawing page's "upgrade" and "support" links do in Impress.

A link with an address opens it in the user's browser through LibreOffice's own shell
execution and answers "OK|opened"; when that fails, "OK|soon|" and a note saying where to go.
A link this copy has no address for yet answers "OK|soon|" and a sentence saying so: the
page shows the note, nothing has failed. Only http and https addresses are ever opened.
"""

from . import logfile

# Where the links lead; empty until a copy of the extension is given an address (the build
# may stamp them, and set_address gives one while soffice runs).
ADDRESSES = {"upgrade": "", "support": ""}

URIS_ONLY = 1  # com.sun.star.system.SystemShellExecuteFlags: never run a program by name


def set_address(link_id, address):
    """Gives the link `link_id` an address (or a new one)."""
    ADDRESSES[link_id] = address


def one_field(text):
    """Text fit to stand inside one field of an answer."""
    return " ".join(text.replace("|", "/").split())


def _open(host, address):
    if not address.lower().startswith(("https://", "http://")):
        logfile.log("refused to open a link address that is not http(s): %r" % address)
        return False
    try:
        shell = host.smgr.createInstanceWithContext("com.sun.star.system.SystemShellExecute",
                                                    host.ctx)
        shell.execute(address, "", URIS_ONLY)
        return True
    except Exception as e:  # noqa: BLE001 - no browser: the note tells the user instead
        logfile.log("could not open %s: %s" % (address, e))
        return False


def query(host, args):
    """SCBT_LinkQuery(link id); never raises."""
    try:
        link_id = str(args[0]) if args else ""
        if link_id not in ADDRESSES:
            return 'ERR|The add-in has no link called "%s".' % link_id
        address = ADDRESSES[link_id]
        if not address:
            return ("OK|soon|This copy of the add-in has no address for the %s link yet."
                    % one_field(link_id))
        if _open(host, address):
            return "OK|opened"
        return "OK|soon|Open %s in your browser." % one_field(address)
    except Exception:  # noqa: BLE001 - a macro never throws
        logfile.log_exception("SCBT_LinkQuery")
        return "OK|soon|The link could not be opened from Impress."
