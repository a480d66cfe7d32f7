"""Helpers for the end-to-end tests that run the Windows programs under Wine.

The tests themselves run natively (ctest starts them with /usr/bin/python3) and
reach the Windows side through the build tree's Wine wrapper and
qal_test_driver.exe. Environment (set by qal_add_test): QAL_BUILD_DIR,
QAL_SOURCE_DIR, QAL_TARGET, QAL_WINE_RUN.
"""

import base64
import http.server
import json
import os
import shutil
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

BUILD_DIR = os.environ.get("QAL_BUILD_DIR", "")
SOURCE_DIR = os.environ.get("QAL_SOURCE_DIR", "")
TARGET = os.environ.get("QAL_TARGET", "")
WINE_RUN = os.environ.get("QAL_WINE_RUN", "")


def build_path(*parts):
    return os.path.join(BUILD_DIR, *parts)


def win_path(path):
    """The Windows form of a Linux path: Wine maps / to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


_made_dirs = []


def make_temp_dir(prefix="case-"):
    """A fresh directory inside the build tree (so Wine sees it at a stable path).
    main() removes it once every test of the run has passed."""
    root = build_path("test-tmp")
    os.makedirs(root, exist_ok=True)
    made = tempfile.mkdtemp(prefix=prefix, dir=root)
    _made_dirs.append(made)
    return made


def wine_prefix():
    """This test's Wine prefix: the build tree's, unless QAL_WINEPREFIX names one."""
    return os.environ.get("QAL_WINEPREFIX") or build_path("wineprefix")


def wine_env():
    """The environment wine-run.sh would give a program; also starts Xvfb."""
    env = dict(os.environ)
    out = subprocess.run(
        ["bash", "-c", 'source "$1"; qal_ensure_display "$2" && qal_ensure_prefix "$2" "$3" && '
                       'printf "%s\\n" "$DISPLAY" "$PATH" "$QAL_WINE_DIR"',
         "-", os.path.join(os.path.dirname(WINE_RUN), "wine-env.sh"), BUILD_DIR, os.path.dirname(WINE_RUN)],
        env=dict(env, WINEPREFIX=wine_prefix(), WINEDEBUG="-all",
                 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", WINEARCH="win64"),
        check=True, capture_output=True, text=True, timeout=600)
    display, path, wine_dir = out.stdout.split("\n")[:3]
    env.pop("WINELOADER", None)
    env.update(DISPLAY=display, PATH=path, QAL_WINE_DIR=wine_dir, WINEPREFIX=wine_prefix(), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", WINEARCH="win64")
    return env


def run_windows(exe, *args, timeout=60, cwd=None, env=None):
    """Runs a Windows program under Wine and waits; returns CompletedProcess.
    Arguments pass through Wine's re-quoting: use run_exact() for raw text.
    env: variables added to this process's environment for the run."""
    return subprocess.run([WINE_RUN, BUILD_DIR, exe, *args], cwd=cwd, timeout=timeout,
                          capture_output=True, env=dict(os.environ, **(env or {})))


def start_windows(exe, *args, cwd=None):
    """Starts a Windows program under Wine in the background (Popen)."""
    return subprocess.Popen([WINE_RUN, BUILD_DIR, exe, *args], cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def driver_exe():
    return build_path("tests", "support", "qal_test_driver.exe")


def run_exact(command_line, cwd=None, timeout_ms=30000, answers=(), on_window=(), dump_on=(),
              dump_on_box=False, kill_after_ms=0, box_delay_ms=None, env=None, follow=(), debug_output=False):
    """Starts a program with an exact Windows command line through
    qal_test_driver and returns its report:
      {"exit_code", "timed_out", "killed", "elapsed_ms",
       "boxes": [{"caption", "text", "owner", "owner_class", "has_cancel", "answer"}],
       "dumps": [{"trigger", "windows": [{"class", "title", "style", "exstyle", "visible",
                  "iconic", "rect", "client", "owner", "owner_class", "children": [...]}]}]}
    answers: button names answered to the program's message boxes in order.
    on_window: "CLASS:MSG:WPARAM:LPARAM[:DELAY]" posts once the class shows.
    dump_on: "CLASS[:DELAY]" records the windows once the class shows.
    env: variables added for the run (LANG=zh_CN.UTF-8 gives code page 936).
    follow: executable names whose processes, started while the program runs,
      are waited for too: report["followed"] = [{"exe", "ended", "exit_code",
      "windows": [classes of their visible top-level windows]}].
    debug_output: report["debug_output"] = ["PID: line", ...], what the
      prefix's programs told a debugger while it ran."""
    work = make_temp_dir("driver-")
    cmd_file = os.path.join(work, "cmdline.txt")
    report = os.path.join(work, "report.json")
    with open(cmd_file, "w", encoding="utf-8") as f:
        f.write(command_line)
    args = ["run", "--cmdline-file", win_path(cmd_file), "--report", win_path(report),
            "--timeout", str(timeout_ms)]
    if cwd:
        args += ["--cwd", win_path(cwd) if cwd.startswith("/") else cwd]
    for a in answers:
        args += ["--answer", a]
    for w in on_window:
        args += ["--on-window", w]
    for d in dump_on:
        args += ["--dump-on", d]
    if dump_on_box:
        args.append("--dump-on-box")
    if kill_after_ms:
        args += ["--kill-after", str(kill_after_ms)]
    for name in follow:
        args += ["--follow", name]
    if box_delay_ms is not None:
        args += ["--box-delay", str(box_delay_ms)]
    if debug_output:
        args.append("--debug-output")
    def start():
        result = run_windows(driver_exe(), *args, timeout=timeout_ms / 1000 + 60, env=env)
        # wine-run.sh passes on what Wine printed as standard output.
        return result, (result.stdout + result.stderr).decode(errors="replace")
    result, printed = start()
    # Wine did not start the driver, or failed inside itself to create the
    # program's process (ERROR_INTERNAL_ERROR, seen once on a loaded
    # machine): either way the program never ran, so once more.
    never_ran = not os.path.exists(report + ".started") or "cannot start program (error 1359)" in printed
    if result.returncode != 0 and never_ran:
        sys.stderr.write("qal_test_driver: the program did not start (%d): %s; starting it again\n"
                         % (result.returncode, printed))
        time.sleep(1)
        result, printed = start()
    if result.returncode != 0 or not os.path.exists(report):
        raise RuntimeError("qal_test_driver failed (%d): %s" % (result.returncode, printed))
    with open(report, encoding="utf-8") as f:
        data = json.load(f)
    shutil.rmtree(work, ignore_errors=True)
    return data


def quote_arg(text):
    """Quotes one command-line token the way CommandLineToArgvW reads it."""
    return '"' + text + '"'


def screenshot(path):
    """Saves the virtual screen of this build's display as a PNG."""
    env = wine_env()
    subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root", path],
                   check=True, timeout=60, env=env)
    return path


def _x11():
    import ctypes
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XRaiseWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x11


def raise_launcher_panel():
    """Wine recreates the launcher skin's X window with an alpha visual on its
    first layered update, which stacks it above the owned panel; Windows keeps
    owned windows above their owner. Restack the panel from the X side as
    Windows would show it."""
    env = wine_env()
    display = env["DISPLAY"]
    out = subprocess.run(["xwininfo", "-root", "-children", "-display", display], capture_output=True,
                         text=True, timeout=30).stdout
    x11 = _x11()
    dpy = x11.XOpenDisplay(display.encode())
    for line in out.splitlines():
        line = line.strip()
        if '("qallogin.exe"' in line and "(has no name)" in line and "1221x739" in line:
            x11.XRaiseWindow(dpy, int(line.split()[0], 16))
    x11.XFlush(dpy)
    x11.XCloseDisplay(dpy)


def click(x, y):
    """A left click at screen position (x, y) of this build's display, as a
    player's mouse would give it (XTest)."""
    import ctypes
    display = wine_env()["DISPLAY"]
    x11 = _x11()
    xtst = ctypes.CDLL("libXtst.so.6")
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    dpy = x11.XOpenDisplay(display.encode())
    xtst.XTestFakeMotionEvent(dpy, -1, x, y, 0)
    x11.XFlush(dpy)
    time.sleep(0.2)
    xtst.XTestFakeButtonEvent(dpy, 1, 1, 0)
    xtst.XTestFakeButtonEvent(dpy, 1, 0, 50)
    x11.XFlush(dpy)
    x11.XCloseDisplay(dpy)


def read_pixel(png_path, x, y):
    """(r, g, b) of one pixel of a screenshot (needs Pillow, python3-pil)."""
    from PIL import Image
    with Image.open(png_path) as image:
        return image.convert("RGB").getpixel((x, y))


def remove_prefix(prefix):
    """Deletes a Wine prefix, ending its Wine server first: a server kept
    alive after its last program would otherwise serve a prefix made again
    at the same path if the new directory happened to get the old one's
    inode (Wine finds a prefix's server by device and inode)."""
    if os.path.isdir(prefix):
        env = dict(os.environ, WINEPREFIX=prefix)
        subprocess.run(["wineserver", "-k"], env=env, timeout=60, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60, capture_output=True)
    shutil.rmtree(prefix, ignore_errors=True)


def kill_prefix_processes():
    """Ends every Windows process left in this build's prefix (after a test
    that deliberately leaves programs running)."""
    env = wine_env()
    subprocess.run(["wineserver", "-k"], env=env, timeout=60)
    subprocess.run(["wineserver", "-w"], env=env, timeout=60)


def sign_manifest(body, private_key):
    """body followed by its signature block, made by the openssl command alone
    (SHA-256, ECDSA, DER, Base64), as an operator without qalManifest would."""
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", private_key], input=body,
                               capture_output=True, check=True, timeout=60).stdout
    return body + b"<!--signature:" + base64.b64encode(signature) + b"-->\n"


def make_certificate_authority(directory, name):
    """A throwaway certificate authority: (certificate PEM, key PEM) paths."""
    key = os.path.join(directory, name + ".key")
    cert = os.path.join(directory, name + ".crt")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "30", "-subj", "/CN=" + name, "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
                   check=True, capture_output=True, timeout=120)
    return cert, key


def make_server_certificate(directory, authority, host="localhost"):
    """A certificate for host signed by authority: (certificate PEM, key PEM)."""
    ca_cert, ca_key = authority
    key = os.path.join(directory, host + ".key")
    request = os.path.join(directory, host + ".csr")
    cert = os.path.join(directory, host + ".crt")
    extensions = os.path.join(directory, host + ".ext")
    with open(extensions, "w") as f:
        f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % host)
    subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
                    "-subj", "/CN=" + host], check=True, capture_output=True, timeout=120)
    subprocess.run(["openssl", "x509", "-req", "-in", request, "-CA", ca_cert, "-CAkey", ca_key,
                    "-CAcreateserial", "-out", cert, "-days", "30", "-extfile", extensions],
                   check=True, capture_output=True, timeout=120)
    return cert, key


def trust_root(certificate_pem):
    """Adds a certificate authority to the Root store of this test's prefix
    (which must be the test's own: Wine cannot take it out again)."""
    if not os.environ.get("QAL_WINEPREFIX"):
        raise RuntimeError("trust_root needs a Wine prefix of the test's own (QAL_WINEPREFIX)")
    der = certificate_pem + ".der"
    subprocess.run(["openssl", "x509", "-in", certificate_pem, "-outform", "DER", "-out", der],
                   check=True, capture_output=True, timeout=60)
    result = run_windows(driver_exe(), "trust-root", win_path(der), timeout=120)
    if result.returncode != 0:
        raise RuntimeError("could not trust %s (%d)" % (certificate_pem, result.returncode))


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out at once: with Nagle's algorithm the body would
    # wait for the client's delayed acknowledgement of the headers, some
    # 40 ms a request that are the server's, not the program's.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server.owner
        path = urllib.parse.unquote(self.path.split("?", 1)[0])
        with server.lock:
            server.requests.append(self.path)
            server.request_times.append(time.monotonic())
            mode = server.faults.get(path, server.default_mode)
        if mode == "404":
            return self._plain(404, b"not found")
        if mode == "500":
            return self._plain(500, b"<html><body>internal error</body></html>")
        body = server.content_for(path)
        if body is None:
            return self._plain(404, b"not found")
        if mode == "ok":
            return self._send(body)
        if mode == "refuse_after":
            # Serves this one, then stops listening: what follows is refused.
            self.close_connection = True
            self._send(body)
            self.wfile.flush()
            threading.Thread(target=server.stop_listening, daemon=True).start()
            return
        if mode == "slow":
            return self._send(body, chunk=max(1, len(body) // 20 or 1), pause=server.slow_pause)
        if mode == "paced":
            return self._send_paced(body, server.pace_bytes_per_second)
        if mode == "trickle":
            # Never silent for long, never done: 4 KiB at a time.
            return self._send(body, chunk=4096, pause=server.trickle_pause)
        if mode == "hold":
            self._headers(200, len(body))
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            server.release.wait(server.hold_seconds)
            self.close_connection = True
            return
        if mode == "other_bytes":
            # A 200 with a whole body of the right length but other bytes.
            return self._send(bytes(b ^ 0x5A for b in body) or b"x")
        if mode == "chunked_cut":
            # No length is announced; the body ends before its last chunk.
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            half = body[: max(1, len(body) // 2)]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(half), half))
            self.wfile.flush()
            self.close_connection = True
            return
        if mode == "redirect_missing":
            # A redirect to a file the server does not have.
            self.send_response(302)
            self.send_header("Location", "/missing" + path)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if mode == "stall":
            # Accepts and reads the request, then sends nothing at all.
            server.release.wait(server.hold_seconds)
            self.close_connection = True
            return
        if mode in ("reset", "truncate"):
            self._headers(200, len(body))
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            if mode == "reset":
                # An abortive close: RST instead of FIN.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            return
        raise ValueError("unknown fault mode " + mode)

    def _headers(self, status, length, content_type="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(length))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()

    def _plain(self, status, body):
        self._headers(status, len(body), "text/html")
        self.wfile.write(body)

    def _send(self, body, chunk=None, pause=0.0):
        server = self.server.owner
        with server.lock:
            server.bytes_sent += len(body)
        if not chunk:
            # One write for the whole answer.
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-cache")
            self._headers_buffer.append(b"\r\n")
            self._headers_buffer.append(body)
            self.flush_headers()
            return
        self._headers(200, len(body))
        try:
            for i in range(0, len(body), chunk):
                self.wfile.write(body[i:i + chunk])
                self.wfile.flush()
                time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up on it


    def _send_paced(self, body, rate):
        server = self.server.owner
        with server.lock:
            server.bytes_sent += len(body)
        self._headers(200, len(body))
        started = time.monotonic()
        try:
            for i in range(0, len(body), 65536):
                self.wfile.write(body[i:i + 65536])
                self.wfile.flush()
                # Ahead of the link's schedule: wait for it.
                due = started + (i + 65536) / rate
                time.sleep(max(0.0, due - time.monotonic()))
        except (BrokenPipeError, ConnectionResetError):
            pass


class _ThreadingServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class ResourceServer:
    """A loopback HTTP server for the tests.

    Files are served from `root` (a directory), or from `files` (a dict of URL
    path to bytes, or to a list of bytes that successive requests take in
    turn, the last one staying), which wins. Every request path (with its query) is logged in
    `requests`. Fault modes by URL path, set with fail(path, mode):
      "404", "500"   that status with a small body
      "reset"        full Content-Length, half the body, then a TCP reset
      "truncate"     full Content-Length, half the body, then a normal close
      "slow"         the body in 20 pieces, slow_pause seconds apart
      "trickle"      the body 4 KiB at a time, trickle_pause seconds apart
      "paced"        the body at pace_bytes_per_second, as over a slower link
      "hold"         half the body, then wait for release() (or hold_seconds)
      "other_bytes"  a 200 with a body of the right length but other bytes
      "chunked_cut"  a chunked body that ends before its last chunk
      "stall"        nothing at all until release() (or hold_seconds)
      "redirect_missing"  a 302 to a path the server does not have
      "refuse_after" serves the file, then stops listening (connections refused)
    default_mode applies to every path without its own mode.
    anything: bytes served at every path that root and files do not hold
    (so that no address an updater could form goes unanswered).
    tls=(certificate, key) serves HTTPS instead, TLS 1.2 at most (Wine's
    client fails on a server that offers only 1.3).
    """

    def __init__(self, port=0, root=None, files=None, tls=None, anything=None):
        self.root = root
        self.files = dict(files or {})
        self.anything = anything
        self.faults = {}
        self.default_mode = "ok"
        self.requests = []
        self.bytes_sent = 0  # body bytes of every answer served whole or in pieces
        self.request_times = []  # time.monotonic() of each request, in step with requests
        self.lock = threading.Lock()
        self.release = threading.Event()
        self.slow_pause = 0.2
        self.trickle_pause = 1.0
        self.pace_bytes_per_second = 20_000_000 / 8
        self.hold_seconds = 60
        self.stopped = False
        self.httpd = _ThreadingServer(("127.0.0.1", port), _Handler)
        self.httpd.owner = self
        self.scheme = "http"
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.load_cert_chain(*tls)
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
            self.scheme = "https"
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def url(self, path="/"):
        return "%s://127.0.0.1:%d%s" % (self.scheme, self.port, path)

    def content_for(self, path):
        if path in self.files:
            content = self.files[path]
            if isinstance(content, list):
                # Each request takes the next; the last one stays.
                with self.lock:
                    return content.pop(0) if len(content) > 1 else content[0]
            return content
        if self.root is not None:
            local = os.path.normpath(os.path.join(self.root, path.lstrip("/")))
            if local.startswith(os.path.abspath(self.root)) and os.path.isfile(local):
                with open(local, "rb") as f:
                    return f.read()
        return self.anything

    def stop_listening(self):
        with self.lock:
            if self.stopped:
                return
            self.stopped = True
        self.httpd.shutdown()
        self.httpd.server_close()

    def fail(self, path, mode):
        with self.lock:
            self.faults[path] = mode

    def paths_requested(self):
        with self.lock:
            return [urllib.parse.unquote(p.split("?", 1)[0]) for p in self.requests]

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.release.set()
        self.stop_listening()


class CdnEdge:
    """A CDN's caching edge on a loopback port in front of an origin server:
    Debian's nginx with proxy_cache, keeping every 200 answer for a day
    whatever the origin's headers say, as edges keep what they got. The
    cache lives in cache_dir and outlives the process: started again on the
    same directory, the edge still serves what it held, so one directory is
    one edge, and a test builds any mix of stale and fresh answers by what
    it asked each edge before. Nothing system-wide: every path is the
    test's own, nginx runs in the foreground as a child of the test and is
    stopped on leaving the block.
      hits(): [(path, status, "HIT" | "MISS" | ...)] of every answer."""

    def __init__(self, port, origin_port, cache_dir):
        self.port = port
        self.origin_port = origin_port
        self.cache_dir = cache_dir
        os.makedirs(cache_dir, exist_ok=True)
        self.work = make_temp_dir("edge-")
        self.process = None

    def _config(self):
        w = self.work
        # As root, nginx's workers would run as nobody, who cannot enter
        # the test's directories (mode 0700).
        user = "user root;\n" if os.geteuid() == 0 else ""
        return (
            "daemon off;\n%(user)sworker_processes 1;\npid %(w)s/nginx.pid;\nerror_log %(w)s/error.log warn;\n"
            "events { worker_connections 64; }\n"
            "http {\n"
            "  log_format edge '$uri $status $upstream_cache_status';\n"
            "  access_log %(w)s/access.log edge;\n"
            "  client_body_temp_path %(w)s/client_body;\n  proxy_temp_path %(w)s/proxy;\n"
            "  fastcgi_temp_path %(w)s/fastcgi;\n  uwsgi_temp_path %(w)s/uwsgi;\n  scgi_temp_path %(w)s/scgi;\n"
            "  proxy_cache_path %(cache)s levels=1:2 keys_zone=edge:4m inactive=1d max_size=1g;\n"
            "  server {\n    listen 127.0.0.1:%(port)d;\n    location / {\n"
            "      proxy_pass http://127.0.0.1:%(origin)d;\n      proxy_cache edge;\n"
            "      proxy_cache_valid 200 1d;\n"
            "      proxy_ignore_headers Cache-Control Expires Set-Cookie;\n"
            "      add_header X-Edge $upstream_cache_status;\n    }\n  }\n}\n"
        ) % dict(user=user, w=w, cache=self.cache_dir, port=self.port, origin=self.origin_port)

    def __enter__(self):
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self._config())
        self.log = open(os.path.join(self.work, "nginx.out"), "wb")
        self.process = subprocess.Popen(["nginx", "-c", conf, "-p", self.work], stdout=self.log, stderr=self.log)
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.__exit__()
                    with open(os.path.join(self.work, "error.log"), errors="replace") as f:
                        raise RuntimeError("nginx did not start: " + f.read())
                time.sleep(0.05)

    def __exit__(self, *exc):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=20)
        self.log.close()

    def get(self, path):
        """Asks the edge for path, as a player's program would: it caches
        what it gets. Returns the body (None for an error status)."""
        import urllib.request
        import urllib.error
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, path), timeout=30) as answer:
                return answer.read()
        except urllib.error.HTTPError:
            return None

    def hits(self):
        try:
            with open(os.path.join(self.work, "access.log")) as f:
                return [tuple(line.split()) for line in f if line.strip()]
        except FileNotFoundError:
            return []


def main():
    """Runs the module's tests. A run that passes removes the directories it
    made (a fault matrix leaves hundreds of megabytes); a failing one keeps
    them to be looked at."""
    result = unittest.main(verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    for made in _made_dirs:
        shutil.rmtree(made, ignore_errors=True)
