"""displayfd: the display number a private Xvfb reports through -displayfd.

Both real-program harnesses (tests/e2e, tests/robust) start Xvfb with
`-displayfd FD` and read its answer here: the number followed by a newline,
within a time limit, polled every `poll_s` seconds. Python 3 standard library.
"""
import os
import select
import time

# Bytes read from the pipe at a time.
READ_BYTES = 16


def read_display(read_end, seconds, poll_s):
    """Reads the display number from read_end (and closes it): ':N', or None
    if Xvfb wrote none within `seconds`."""
    text = b""
    deadline = time.monotonic() + seconds
    try:
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], poll_s)
            if ready:
                chunk = os.read(read_end, READ_BYTES)
                if not chunk:
                    break
                text += chunk
    finally:
        os.close(read_end)
    number = text.strip()
    return ":" + number.decode() if number.isdigit() else None
