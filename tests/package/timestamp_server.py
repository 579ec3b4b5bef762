#!/usr/bin/env python3
# timestamp_server.py CERT KEY: a time-stamping server (RFC 3161, over HTTP) on 127.0.0.1
# for the release test, which signs with a throwaway certificate and no network: each
# request's reply is `openssl ts -reply`'s, signed with CERT and KEY (PEM; the certificate
# for time stamping alone). Prints its address, http://127.0.0.1:PORT/, once listening,
# and answers until it is ended.
import http.server
import os
import subprocess
import sys
import tempfile

CONFIG = """[tsa]
default_tsa = tsa_config
[tsa_config]
serial = %(serial)s
signer_cert = %(cert)s
signer_key = %(key)s
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def main():
    cert, key = map(os.path.abspath, sys.argv[1:3])
    work = tempfile.mkdtemp(prefix="vesk-tsa-")
    config = os.path.join(work, "tsa.cnf")
    with open(config, "w") as f:
        f.write(CONFIG % {"serial": os.path.join(work, "serial"), "cert": cert, "key": key})
    with open(os.path.join(work, "serial"), "w") as f:
        f.write("01\n")

    class Reply(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile",
                                   "/dev/stdin", "-out", "/dev/stdout"], input=query,
                                  capture_output=True)
            self.send_response(200 if done.returncode == 0 else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(done.stdout)))
            self.end_headers()
            self.wfile.write(done.stdout)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
    print("http://127.0.0.1:%d/" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
