"""test_server.py as a child process on 127.0.0.1, for the Python harnesses
(end-to-end tests, browser tests, benchmarks). It is started on a free port
(or a given one) and is ready once it has said which; both the start and
the stop are bounded in time."""

import os
import re
import select
import subprocess
import sys

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_server.py")
START_SECONDS = 15
STOP_SECONDS = 10


class ServerProcess:
    """The server, with its command-line arguments after --port; `port` is
    the one it listens on."""

    def __init__(self, *arguments, port=0, stderr=None):
        self.process = subprocess.Popen([sys.executable, SCRIPT, "--port", str(port), *arguments],
                                        stdout=subprocess.PIPE, stderr=stderr)
        ready, _, _ = select.select([self.process.stdout], [], [], START_SECONDS)
        line = self.process.stdout.readline().decode() if ready else ""
        match = re.match(r"PORT (\d+)", line)
        if not match or port not in (0, int(match.group(1))):
            self.stop()
            raise RuntimeError("the test server did not start"
                               + (" on port %d" % port if port else ""))
        self.port = int(match.group(1))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
