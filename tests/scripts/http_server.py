# The local server of the HTTP script test: statuses, an echo of the request,
# two cookies, large bodies, and pages that count their hits (to tell a cache
# hit from a fetch). Usage: http_server.py PORT-FILE. It writes its port to
# PORT-FILE once it listens and ends on /quit, or after a minute without a
# request, so that a test stopped early leaves nothing behind.
import http.server, os, sys, threading, time
hits = dict()
last = [time.time()]
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def reply(self, status, body, extra=()):
        self.send_response(status)
        for k, v in extra: self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD": self.wfile.write(body)
    def answer(self):
        last[0] = time.time()
        n = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(n) if n else b""
        p = self.path
        hits[p] = hits.get(p, 0) + 1
        if p.startswith("/status/"):
            self.reply(int(p[8:]), b"status " + p[8:].encode())
        elif p == "/echo":
            head = "".join("%s: %s\n" % (k.lower(), v) for k, v in self.headers.items())
            self.reply(200, (self.command + "\n" + head + "\n").encode() + data)
        elif p == "/cookies":
            self.reply(200, b"two", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2")])
        elif p.startswith("/big/"):
            size = int(p[5:])
            self.reply(200, (b"0123456789" * (size // 10 + 1))[:size])
        elif p.startswith("/counted/"):
            self.reply(200, ("%s %d" % (p[9:], hits[p])).encode())
        elif p.startswith("/script/"):
            self.reply(200, ("n: %d n + 1" % hits[p]).encode())
        elif p.startswith("/bytes/"):
            self.reply(200, bytes.fromhex(p[7:]))
        elif p == "/lines":
            self.reply(200, b"one\r\ntwo\nthree")
        elif p == "/quit":
            self.reply(200, b"bye")
            threading.Thread(target=self.server.shutdown).start()
        else:
            self.reply(404, b"not found")
    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = do_PATCH = answer
srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), H)
srv.daemon_threads = True
def watchdog():
    while time.time() - last[0] < 60: time.sleep(1)
    os._exit(0)
threading.Thread(target=watchdog, daemon=True).start()
with open(sys.argv[1] + ".tmp", "w") as f: f.write(str(srv.server_address[1]))
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
srv.serve_forever()
