"""A host's other threads run while the library waits, and Ctrl-C ends a wait."""

import json
import os
import signal
import threading
import time

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import Reply


@pytest.fixture
def default_sigint():
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


class Background:
    """Runs a call on another thread and keeps its result or error."""

    def __init__(self, call):
        self.result = self.error = None
        self.thread = threading.Thread(target=self._run, args=(call,), daemon=True)
        self.thread.start()

    def _run(self, call):
        try:
            self.result = call()
        except BaseException as error:  # handed to the test thread
            self.error = error

    def join(self):
        self.thread.join(30)
        assert not self.thread.is_alive()
        if self.error is not None:
            raise self.error
        return self.result


def test_other_threads_run_during_a_network_wait(server):
    arrived, release = threading.Event(), threading.Event()
    progress: list[int] = []

    def answer(request):
        # Runs on the server's own Python thread: reaching it at all needs the
        # GIL free while the caller waits.
        arrived.set()
        release.wait(20)
        return Reply(200, json.dumps({"seen": len(progress)}).encode())

    server.script(answer)
    call = Background(lambda: bw.http_get_json("/x", {}, "k"))
    assert arrived.wait(20)
    progress.extend(range(5000))  # Python work on this thread while the call is pending
    assert call.thread.is_alive()
    release.set()
    assert call.join() == {"seen": 5000}


def test_other_threads_run_during_a_retry_pause(server):
    arrived = threading.Event()

    def refuse(request):
        arrived.set()
        return Reply(429, b"Rate Limited")

    server.script(refuse, Reply(200, b'{"ok": true}'))
    call = Background(lambda: bw.with_retries("/x", {}, "k"))
    assert arrived.wait(20)
    time.sleep(0.5)  # the refusal has been read by now: the call is in its 2 s pause
    total = sum(i * i for i in range(20000))
    in_pause = len(server.requests) == 1 and call.thread.is_alive()
    assert call.join() == {"ok": True}
    assert in_pause and total > 0
    assert len(server.requests) == 2


def interrupt_when(event, after=0.0):
    def send():
        if event.wait(20):
            time.sleep(after)
            os.kill(os.getpid(), signal.SIGINT)

    sender = threading.Thread(target=send, daemon=True)
    sender.start()
    return sender


def test_ctrl_c_ends_a_network_wait(server, default_sigint):
    arrived = threading.Event()

    def stall(request):
        arrived.set()
        return Reply(200, b"{}", delay=120)  # far beyond the wait the test can afford

    server.script(stall)
    sender = interrupt_when(arrived)
    with pytest.raises(KeyboardInterrupt):
        bw.http_get_json("/x", {}, "k")
    sender.join(5)


def test_ctrl_c_ends_a_retry_pause(server, default_sigint):
    arrived = threading.Event()

    def refuse(request):
        arrived.set()
        return Reply(429, b"Rate Limited")

    server.script(refuse, Reply(200, b"{}"))
    sender = interrupt_when(arrived, after=0.5)  # inside the 2 s pause
    with pytest.raises(KeyboardInterrupt):
        bw.with_retries("/x", {}, "k", max_retries=2)
    sender.join(5)
    assert len(server.requests) == 1
