#!/usr/bin/python3
"""An RFC 3161 time-stamping service on 127.0.0.1, for the release's checks: `openssl ts -reply`
behind http.server.

  tests/release/timestamp_service.py FOLDER SECONDS
      FOLDER holds tsa.cnf, the configuration of `openssl ts -reply` (its default section names
      the service's key and certificates). The service writes its process ID to FOLDER/pid
      (whoever started it through faketime, which forks, has only faketime's) and the port that
      it listens on to FOLDER/port, answers each POST of a time-stamp query with the reply, and stops after
      SECONDS, or sooner when it is ended.
"""

import http.server
import os
import subprocess
import sys
import tempfile
import time


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as scratch:
            with open(os.path.join(scratch, "query.tsq"), "wb") as f:
                f.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
                                   os.path.join(scratch, "query.tsq"), "-out",
                                   os.path.join(scratch, "reply.tsr")],
                                  cwd=self.server.folder, capture_output=True)
            if done.returncode != 0:
                self.send_error(500, done.stderr.decode(errors="replace")[:200])
                return
            with open(os.path.join(scratch, "reply.tsr"), "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main(folder, seconds):
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    server.folder = folder
    server.timeout = 1
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write(f"{os.getpid()}\n")
    with open(os.path.join(folder, "port.new"), "w") as f:
        f.write(f"{server.server_address[1]}\n")
    os.replace(os.path.join(folder, "port.new"), os.path.join(folder, "port"))
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        server.handle_request()
    server.server_close()


if __name__ == "__main__":
    main(sys.argv[1], float(sys.argv[2]))
