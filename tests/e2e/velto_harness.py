"""Drives the real velto program for end-to-end tests.

The program keeps its settings, user file and logs beside its executable, so
every server runs from its own copy of the build's bin folder in a fresh
temporary folder. Traffic goes to 127.0.0.1 only; every wait is bounded and
no process outlives the test run.
"""

import atexit
import functools
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

# The pass phrase the user database keys its password cipher with.
USER_FILE_PASS_PHRASE = b"Harbour Lantern Systems Ltd"

GREETING = "220 Brightmoor Technologies' Velto FTP Server. (Version 2.0.101).\r\n"
REPLY_NEED_PASSWORD = "331 OK need password.\r\n"
REPLY_NOT_LOGGED_ON = "530 Invalid user ID and/or password. Cannot log in.\r\n"
REPLY_CONCURRENT = "530 User already logged in.  Concurrent logons not allowed.\r\n"
REPLY_NOT_IMPLEMENTED = "504 That command is not implemented.\r\n"
REPLY_OK = "200 OK\r\n"
REPLY_SYST = "215 Windows_NT\r\n"

READY_TIMEOUT = 15.0
STOP_TIMEOUT = 10.0
REPLY_TIMEOUT = 10.0

SANITIZER_MARKERS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")

# Sentinel: start without any Velto.ini.
NO_FILE = object()

_live_processes = set()


@atexit.register
def _kill_leftovers():
    for proc in list(_live_processes):
        if proc.poll() is None:
            proc.kill()
            try:
                proc.wait(timeout=STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                pass


def bin_dir():
    """The build's bin folder: $VELTO_BIN_DIR, else build/bin of this checkout."""
    env = os.environ.get("VELTO_BIN_DIR")
    if env:
        return Path(env)
    return Path(__file__).resolve().parents[2] / "build" / "bin"


def free_port():
    """A TCP port that was free on 127.0.0.1 a moment ago."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_certificate(folder, name="velto"):
    """A self-signed certificate for 127.0.0.1 and its unencrypted key, as PEM
    files made by the openssl tool in `folder`; returns (certificate, key)."""
    certificate, key = Path(folder) / f"{name}-cert.pem", Path(folder) / f"{name}-key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", str(key), "-out", str(certificate)],
                   check=True, capture_output=True, timeout=30, stdin=subprocess.DEVNULL)
    return certificate, key


def rss_kib(pid):
    """A process's resident memory (VmRSS) in KiB."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def pasv_port(reply):
    """The port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)." reply."""
    match = re.search(r"\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", reply)
    if match is None:
        raise AssertionError(f"not a passive-mode reply: {reply!r}")
    return int(match.group(5)) * 256 + int(match.group(6))


def crlf(text):
    """Normalises line ends to CR LF, the line break of the program's INI files."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


# --- Password cipher and user file -------------------------------------------------


def rc4(data, key):
    """Plain RC4: no discarded keystream, key bytes repeated over 256 entries."""
    if not data:
        return b""
    s = list(range(256))
    k = [key[i % len(key)] for i in range(256)]
    j = 0
    for i in range(256):
        j = (j + s[i] + k[i]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for byte in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


@functools.lru_cache(maxsize=None)
def encrypt_password(password):
    """The password as the user file stores it (latin-1 text in, bytes out)."""
    return rc4(password.encode("latin-1"), USER_FILE_PASS_PHRASE)


_BOOL_KEYS = (
    ("AllowConcurrentLogons", False),
    ("LimitToDefaultDirectory", True),
    ("ReadAccess", True),
    ("WriteAccess", True),
    ("LogAccess", False),
    ("UseVirtualPaths", True),
)


def user_file_bytes(accounts, default_directory):
    """The user file for `accounts` (dicts keyed like the file's keys).

    Missing keys get the defaults the program itself assumes. Passwords are
    written in the classic form (raw cipher bytes), so a test password must
    encrypt to bytes a line-based INI file can hold.
    """
    out = bytearray()
    for n, account in enumerate(accounts, start=1):
        unknown = set(account) - {"UserID", "Password", "DefaultDirectory"} - {k for k, _ in _BOOL_KEYS}
        if unknown:
            raise ValueError(f"unknown account keys {sorted(unknown)}")
        cipher = encrypt_password(account.get("Password", ""))
        if any(c in cipher for c in b"\0\r\n") or cipher.endswith(b"]"):
            raise ValueError(f"password {account.get('Password')!r} encrypts to {cipher!r}, "
                             "which a classic user file cannot hold; pick another test password")
        values = [
            ("UserID", account["UserID"].encode("latin-1")),
            ("Password", cipher),
            ("DefaultDirectory", account.get("DefaultDirectory", default_directory).encode("latin-1")),
        ]
        for key, default in _BOOL_KEYS:
            values.append((key, b"True" if account.get(key, default) else b"False"))
        out += b"\r\n[User%d]\r\n" % n
        for key, value in values:
            if value.endswith(b"]"):
                raise ValueError(f"{key} value {value!r} would end the section early")
            out += key.encode() + b"=" + value + b"\r\n"
    return bytes(out)


# --- Settings file text --------------------------------------------------------


def ini_find_value(text, section, key):
    """Looks a key up the way the program's INI store does; None when absent."""
    header = "[" + section + "]\r\n"
    start = text.find(header)
    if start < 0:
        return None
    end = text.find("]\r\n", start + len(header))
    if end < 0:
        end = len(text)
    pos = text.find("\r\n" + key + "=", start)
    if pos < 0 or pos + 2 >= end:
        return None
    value_start = pos + 2 + len(key) + 1
    value_end = text.find("\r\n", value_start)
    return text[value_start:] if value_end < 0 else text[value_start:value_end]


def ini_with_value(text, section, key, value):
    """Returns `text` with key=value as the first line of the section (appended when absent)."""
    header = "[" + section + "]\r\n"
    start = text.find(header)
    line = f"{key}={value}\r\n"
    if start < 0:
        if text and not text.endswith("\r\n"):
            text += "\r\n"
        return text + "\r\n" + header + line
    insert_at = start + len(header)
    return text[:insert_at] + line + text[insert_at:]


def render_ini(sections):
    """INI text from {section: {key: value}}, CR LF line ends."""
    out = ""
    for section, keys in sections.items():
        out += "[" + section + "]\r\n"
        for key, value in keys.items():
            out += f"{key}={value}\r\n"
    return out


# --- Control-connection client -------------------------------------------------


class ConnectionClosed(Exception):
    """The server closed (or reset) the control connection."""


class RawClient:
    """A control-connection client that sends bytes exactly as given."""

    def __init__(self, port, timeout=REPLY_TIMEOUT):
        self.timeout = timeout
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""
        self.closed_by_server = False

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def local_port(self):
        return self.sock.getsockname()[1]

    def start_tls(self, context):
        """Runs the client side of a TLS handshake on the connection (after a
        234); returns what had arrived in clear beyond the replies read."""
        leftover, self.buffer = self.buffer, b""
        self.sock = context.wrap_socket(self.sock, server_hostname="127.0.0.1")
        return leftover

    def send(self, data):
        """Sends bytes (or latin-1 text) as one write."""
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def cmd(self, line, timeout=None):
        """Sends one command line with CR LF and returns the reply."""
        self.send(line + "\r\n")
        return self.reply(timeout)

    def _fill(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError(f"no complete reply within the time limit; got so far {self.buffer!r}")
        self.sock.settimeout(remaining)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            raise TimeoutError(f"no complete reply within the time limit; got so far {self.buffer!r}")
        except ConnectionResetError:
            chunk = b""
        if not chunk:
            self.closed_by_server = True
            raise ConnectionClosed(f"connection closed by server; unread bytes {self.buffer!r}")
        self.buffer += chunk

    def _line(self, deadline):
        while b"\n" not in self.buffer:
            self._fill(deadline)
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line + b"\n"

    def reply(self, timeout=None):
        """Reads one reply (all lines of a multi-line one) as latin-1 text, line ends kept."""
        deadline = time.monotonic() + (timeout or self.timeout)
        first = self._line(deadline)
        text = first
        if re.match(rb"^\d{3}-", first):
            end_prefix = first[:3] + b" "
            while True:
                line = self._line(deadline)
                text += line
                if line.startswith(end_prefix):
                    break
        return text.decode("latin-1")

    def read_until_closed(self, timeout=None):
        """Returns every byte received until the server closes; fails when it does not."""
        deadline = time.monotonic() + (timeout or self.timeout)
        data = self.buffer
        self.buffer = b""
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"server kept the connection open; received {data!r}")
            self.sock.settimeout(remaining)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                continue
            except ConnectionResetError:
                chunk = b""
            if not chunk:
                self.closed_by_server = True
                return data
            data += chunk

    def silent(self, wait=0.0):
        """True when within `wait` seconds nothing arrived: no byte and no close."""
        if self.buffer:
            return False
        readable, _, _ = select.select([self.sock], [], [], wait)
        return not readable

    def is_open(self, wait=0.3):
        """True when, after `wait` seconds, the server has neither closed nor sent anything."""
        readable, _, _ = select.select([self.sock], [], [], wait)
        if not readable:
            return True
        try:
            chunk = self.sock.recv(65536, socket.MSG_PEEK)
        except ConnectionResetError:
            return False
        return bool(chunk)


# --- The server process ----------------------------------------------------------


class VeltoServer:
    """Runs velto from a private copy of the bin folder.

    ini:      Velto.ini text ("\\n" line ends are turned into CR LF; "{port}" is
              replaced by the chosen port), a {section: {key: value}} dict,
              None for a file holding only the port settings, or NO_FILE.
    settings: {section: {key: value}} added to the file's text (first lines of
              their sections).
    users:    account dicts written to Velto.usr; None writes no user file.
    port:     the FTP port; None picks a free one.
    bind_to_ip: FTPBindToIP written unless the text already has the key.
    ready:    "greeting" waits for a 220 line, "connect" for an accepted
              connection, None does not wait.
    ready_timeout: how long that wait may last.
    tls:      writes a self-signed certificate and key beside the program and
              names them in the settings (certificate_path, key_path).
    implicit_tls: also opens the implicit TLS listener on a free port
              (implicit_port), which start-up then waits for too.
    """

    def __init__(self, ini=None, settings=None, users=None, args=(), port=None, bind_to_ip=-1,
                 ready="greeting", remove_files=(), extra_files=None, env=None,
                 ready_timeout=READY_TIMEOUT, tls=False, implicit_tls=False):
        self.args = list(args)
        self.port = port if port is not None else free_port()
        self.ready = ready
        self.ready_timeout = ready_timeout
        self.proc = None
        self.returncode = None
        self.killed = False
        self.end_expected = False
        self.command_stderr = []
        self.root = Path(tempfile.mkdtemp(prefix="velto-e2e-")).resolve()
        self.folder = self.root / "bin"
        self.cwd = self.root / "cwd"
        self.unit_dir = self.root / "systemd"
        self.stdout_path = self.root / "stdout.txt"
        self.stderr_path = self.root / "stderr.txt"
        self.folder.mkdir()
        self.cwd.mkdir()
        self._copy_program(remove_files)
        self.implicit_port = free_port() if implicit_tls else None
        if tls or implicit_tls:
            self.certificate_path, self.key_path = write_certificate(self.folder)
            keys = {"TLSCertificateFile": self.certificate_path, "TLSKeyFile": self.key_path}
            if implicit_tls:
                keys["ImplicitTLSPort"] = self.implicit_port
            settings = dict(settings or {})
            settings["FTP Settings"] = dict(keys, **settings.get("FTP Settings", {}))
        self._write_ini(ini, settings, bind_to_ip)
        if users is not None:
            (self.folder / "Velto.usr").write_bytes(user_file_bytes(users, str(self.folder)))
        for name, content in (extra_files or {}).items():
            path = self.folder / name
            if isinstance(content, str):
                content = content.encode("latin-1")
            path.write_bytes(content)
        self.env = self._environment(env)

    # Set-up ---------------------------------------------------------------------

    def _copy_program(self, remove_files):
        source = bin_dir()
        program = source / "velto"
        if not program.is_file():
            raise FileNotFoundError(f"no velto program in {source} (set VELTO_BIN_DIR)")
        names = ["velto"] + sorted(p.name for p in source.iterdir()
                                   if p.is_file() and re.search(r"\.so(\.\d+)*$", p.name))
        for name in names:
            if name in remove_files:
                continue
            shutil.copy2(source / name, self.folder / name)

    def _write_ini(self, ini, settings, bind_to_ip):
        if ini is NO_FILE:
            if settings:
                raise ValueError("settings given for a run without Velto.ini")
            return
        if ini is None:
            text = ""
        elif isinstance(ini, dict):
            text = render_ini(ini)
        else:
            text = crlf(ini).replace("{port}", str(self.port))
        for section, keys in (settings or {}).items():
            for key, value in reversed(list(keys.items())):
                text = ini_with_value(text, section, key, value)
        if bind_to_ip is not None and ini_find_value(text, "FTP Settings", "FTPBindToIP") is None:
            text = ini_with_value(text, "FTP Settings", "FTPBindToIP", bind_to_ip)
        if ini_find_value(text, "FTP Settings", "FTPPort") is None:
            text = ini_with_value(text, "FTP Settings", "FTPPort", self.port)
        self.ini_path.write_bytes(text.encode("latin-1"))

    def _environment(self, extra):
        env = dict(os.environ)
        # No display: the program runs headless, and message boxes go to
        # standard error.
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        # An -INSTALL run must never reach the real unit folder.
        env["VELTO_SYSTEMD_UNIT_DIR"] = str(self.unit_dir)
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
        env.update(extra or {})
        return env

    # Paths and files --------------------------------------------------------------

    @property
    def ini_path(self):
        return self.folder / "Velto.ini"

    def read_ini(self):
        """Velto.ini as latin-1 text, or None when it does not exist."""
        return self.ini_path.read_bytes().decode("latin-1") if self.ini_path.exists() else None

    def ini_value(self, section, key):
        text = self.read_ini()
        return None if text is None else ini_find_value(text, section, key)

    def _read_optional(self, name):
        path = self.folder / name
        return path.read_bytes().decode("latin-1") if path.exists() else ""

    def read_access_log(self):
        return self._read_optional("Access.log")

    def read_errors_log(self):
        return self._read_optional("Errors.log")

    def stderr_text(self):
        return self.stderr_path.read_bytes().decode("latin-1") if self.stderr_path.exists() else ""

    def wait_for_stderr(self, text, seconds=10.0):
        """Waits (bounded) until standard error holds `text`; fails when it does not."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.stderr_text():
                return
            time.sleep(0.1)
        raise AssertionError(f"{text!r} not on standard error; got:\n{self.stderr_text()[-4000:]}")

    def stdout_text(self):
        return self.stdout_path.read_bytes().decode("latin-1") if self.stdout_path.exists() else ""

    # Life cycle -------------------------------------------------------------------

    def start(self):
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen([str(self.folder / "velto")] + self.args, cwd=self.cwd,
                                         env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=err, start_new_session=True)
        _live_processes.add(self.proc)
        try:
            if self.ready == "greeting":
                self._wait_ready(want_greeting=True)
            elif self.ready == "connect":
                self._wait_ready(want_greeting=False)
        except BaseException:
            self.stop()
            raise
        return self

    def _wait_ready(self, want_greeting):
        deadline = time.monotonic() + self.ready_timeout
        last_error = None
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise AssertionError(f"velto ended during start-up with status {self.proc.returncode}; "
                                     f"stderr:\n{self.stderr_text()[-4000:]}")
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1.0) as probe:
                    if not want_greeting:
                        return
                    probe.settimeout(max(0.1, deadline - time.monotonic()))
                    data = b""
                    while b"\n" not in data:
                        chunk = probe.recv(4096)
                        if not chunk:
                            break
                        data += chunk
                    if data.startswith(b"220"):
                        if self.implicit_port is None:
                            return
                        # The implicit listener only accepts: a handshake
                        # would be the test's own business.
                        socket.create_connection(("127.0.0.1", self.implicit_port), timeout=1.0).close()
                        return
                    last_error = f"first line was {data!r}"
            except OSError as error:
                last_error = error
            time.sleep(0.1)
        raise AssertionError(f"velto did not get ready on port {self.port} within {self.ready_timeout} s "
                             f"({last_error}); stderr:\n{self.stderr_text()[-4000:]}")

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def send_signal(self, signum):
        if self.alive():
            try:
                self.proc.send_signal(signum)
            except ProcessLookupError:
                pass

    def wait(self, timeout=STOP_TIMEOUT):
        """Waits (bounded) for the program to end by itself; returns its status."""
        self.end_expected = True
        try:
            self.returncode = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"velto did not end within {timeout} s")
        _live_processes.discard(self.proc)
        return self.returncode

    def kill(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.kill()
            self.killed = True
        try:
            self.returncode = self.proc.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            pass
        _live_processes.discard(self.proc)

    def stop(self, signum=signal.SIGTERM):
        """Asks the program to end (SIGTERM), kills it after STOP_TIMEOUT; returns its status."""
        if self.proc is None:
            return None
        self.end_expected = True
        if self.proc.poll() is None:
            self.send_signal(signum)
            try:
                self.returncode = self.proc.wait(timeout=STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.kill()
        else:
            self.returncode = self.proc.returncode
        _live_processes.discard(self.proc)
        return self.returncode

    def run_to_end(self, timeout=STOP_TIMEOUT):
        """Starts a run that is expected to end by itself (install, aborted start)."""
        self.ready = None
        self.start()
        return self.wait(timeout)

    def run_command(self, args, timeout=15.0):
        """Runs the program once more from this folder and waits (bounded) for it to end."""
        result = subprocess.run([str(self.folder / "velto")] + list(args), cwd=self.cwd, env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        self.command_stderr.append(result.stderr.decode("latin-1"))
        return result

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # Checks ------------------------------------------------------------------------

    def sanitizer_report(self):
        text = "\n".join([self.stderr_text()] + self.command_stderr)
        for marker in SANITIZER_MARKERS:
            index = text.find(marker)
            if index >= 0:
                return text[max(0, index - 200):index + 4000]
        return None

    def assert_no_sanitizer_report(self):
        report = self.sanitizer_report()
        if report is not None:
            raise AssertionError(f"velto's standard error holds a sanitizer report:\n{report}")

    # Clients -----------------------------------------------------------------------

    def client(self, expect_greeting=True):
        """A raw client; its greeting is read and checked unless told otherwise."""
        client = RawClient(self.port)
        if expect_greeting:
            greeting = client.reply()
            if greeting != GREETING:
                client.close()
                raise AssertionError(f"unexpected greeting {greeting!r}")
        return client

    def logged_on_client(self, user, password, banner=""):
        client = self.client()
        try:
            reply = client.cmd("USER " + user)
            if reply != REPLY_NEED_PASSWORD:
                raise AssertionError(f"USER {user} answered {reply!r}")
            reply = client.cmd("PASS " + password)
            if reply != "230 " + banner + "\r\n":
                raise AssertionError(f"log-on as {user} answered {reply!r}")
        except BaseException:
            client.close()
            raise
        return client


def passive_transfer(case, client, command, upload=None, reset_after=None):
    """Runs a transfer command over a passive data connection opened first;
    returns its final reply and the bytes received. With `reset_after`, an
    upload's connection is reset that many seconds after its bytes went."""
    data = socket.create_connection(("127.0.0.1", pasv_port(client.cmd("PASV"))), timeout=10)
    case.addCleanup(data.close)
    reply = client.cmd(command)
    received = b""
    if reply.startswith("150"):
        if upload is not None:
            data.sendall(upload)
            if reset_after:
                time.sleep(reset_after)  # lets the server take the bytes in; nothing is timed
                data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            while chunk := data.recv(65536):
                received += chunk
        data.close()
        reply = client.reply()
    return reply, received


class VeltoTestCase(unittest.TestCase):
    """Starts servers for one test, stops them afterwards and checks their standard error.

    A server stopped here with SIGTERM must have ended with status 0 after its
    orderly unload.
    """

    def setUp(self):
        self._servers = []
        self._clients = []

    def server(self, start=True, **kwargs):
        server = VeltoServer(**kwargs)
        self._servers.append(server)
        if start:
            server.start()
        return server

    def stop_server(self, server, signum=signal.SIGTERM):
        """Stops a server the way an operator does; it must unload and end with status 0."""
        was_running = server.alive()
        status = server.stop(signum)
        self.assertTrue(was_running, f"velto had already ended with status {status}")
        self.assertFalse(server.killed, f"velto ignored signal {signum} and was killed")
        self.assertEqual(status, 0, f"velto's status after signal {signum}; "
                                    f"stderr:\n{server.stderr_text()[-4000:]}")

    def temp_dir(self):
        """A fresh folder (resolved path) removed after the test."""
        path = Path(tempfile.mkdtemp(prefix="velto-e2e-data-")).resolve()
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def track(self, client):
        self._clients.append(client)
        return client

    def tearDown(self):
        for client in self._clients:
            client.close()
        problems = []
        for server in self._servers:
            if server.proc is None:
                try:
                    server.assert_no_sanitizer_report()
                except AssertionError as error:
                    problems.append(str(error))
                continue
            was_running = server.alive()
            ended_as_expected = server.end_expected
            status = server.stop()
            if was_running and server.killed:
                problems.append(f"velto ignored SIGTERM for {STOP_TIMEOUT} s and was killed")
            elif was_running and status != 0:
                problems.append(f"velto ended with status {status} after SIGTERM")
            elif not was_running and not ended_as_expected:
                problems.append(f"velto ended by itself during the test with status {status}")
            try:
                server.assert_no_sanitizer_report()
            except AssertionError as error:
                problems.append(str(error))
            if problems:
                problems.append(f"velto's standard error (last 4000 characters):\n"
                                f"{server.stderr_text()[-4000:]}")
        keep = problems and os.environ.get("VELTO_E2E_KEEP")
        for server in self._servers:
            if not keep:
                shutil.rmtree(server.root, ignore_errors=True)
        if problems:
            self.fail("\n".join(problems))
