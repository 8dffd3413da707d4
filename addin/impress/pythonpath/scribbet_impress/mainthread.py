"""Runs work on LibreOffice's main thread for the socket threads, each wait bounded.

UNO calls from other threads take the SolarMutex and may deadlock with the main thread or
crash, so every piece of document work is posted with com.sun.star.awt.AsyncCallback and
runs when LibreOffice's event loop comes round to it. The socket thread waits for it at most
the request's limit; then the job is dropped: a job that has not begun never runs, and one
that has begun finishes but nobody takes its answer. The main thread never waits for a
socket thread, so a stuck client cannot hold up LibreOffice.
"""

import threading

PENDING, RUNNING, DONE, DROPPED = "pending", "running", "done", "dropped"


class TimedOut(Exception):
    """The main thread did not take or finish the job within its limit."""


class Job:
    """One piece of work and the one answer it gives; safe to finish from either side."""

    def __init__(self, work):
        self._work = work
        self._lock = threading.Lock()
        self._done = threading.Event()
        self.state = PENDING
        self.result = None
        self.error = None

    def run(self):
        """Called on the main thread: runs the work unless the job was dropped first."""
        with self._lock:
            if self.state != PENDING:
                return
            self.state = RUNNING
        result, error = None, None
        try:
            result = self._work()
        except BaseException as e:  # noqa: BLE001 - handed to the waiting thread as a value
            error = e
        with self._lock:
            if self.state == RUNNING:
                self.state = DONE
                self.result, self.error = result, error
        self._done.set()

    def wait(self, seconds):
        """The work's result within seconds; raises TimedOut (and drops the job) after."""
        if not self._done.wait(seconds):
            with self._lock:
                if self.state in (PENDING, RUNNING):
                    self.state = DROPPED
            if self.state == DROPPED:
                raise TimedOut()
        if self.error is not None:
            raise self.error
        return self.result


class MainThread:
    """Posts jobs through a poster: a function that arranges job.run() on the main thread.

    In LibreOffice the poster is AsyncCallback.addCallback; tests give a thread of their own.
    """

    def __init__(self, post):
        self._post = post

    def call(self, work, seconds):
        """Runs work() on the main thread and gives its result, within seconds."""
        job = Job(work)
        self._post(job)
        return job.wait(seconds)

    def post(self, work):
        """Runs work() on the main thread later, without waiting for it."""
        self._post(Job(work))


def uno_poster(ctx):
    """A poster that runs jobs through LibreOffice's AsyncCallback service.

    The job itself stays on the Python side, found again by a plain number, so that no Python
    object has to cross UNO as an Any.
    """
    import unohelper
    from com.sun.star.awt import XCallback

    jobs = {}
    lock = threading.Lock()
    counter = [0]

    class _Callback(unohelper.Base, XCallback):
        def notify(self, token):
            with lock:
                job = jobs.pop(token, None)
            if job is not None:
                job.run()

    callback = _Callback()
    service = ctx.getServiceManager().createInstanceWithContext(
        "com.sun.star.awt.AsyncCallback", ctx)

    def post(job):
        with lock:
            counter[0] += 1
            token = counter[0]
            jobs[token] = job
        try:
            service.addCallback(callback, token)
        except Exception:
            with lock:
                jobs.pop(token, None)
            raise

    return post
