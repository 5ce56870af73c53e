"""A throwaway PostgreSQL cluster for the tests.

initdb into a temporary directory, password authentication (scram-sha-256)
on 127.0.0.1 at a free port, the socket inside the directory. initdb and
postgres refuse to run as root, so under root the cluster belongs to the
`postgres` OS user.
"""

import glob
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time

SUPERUSER = "postgres"
PASSWORD = "talvo-test-pw"


def _bindir():
    try:
        out = subprocess.run(["pg_config", "--bindir"], capture_output=True, text=True, check=True)
        path = out.stdout.strip()
        if os.path.exists(os.path.join(path, "initdb")):
            return path
    except (OSError, subprocess.CalledProcessError):
        pass
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    if not found:
        raise RuntimeError("no PostgreSQL server binaries found (initdb)")
    return os.path.dirname(found[-1])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_is_free(port):
    with socket.socket() as s:
        # As a server binds it: connections of an earlier server that are
        # still closing do not keep the port.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
        return True


class Cluster:
    """`port`: a fixed port (otherwise a free one, chosen again should another
    process take it before the server binds it). `ssl_files`: (certificate,
    key) for a server that also accepts TLS. `settings`: more server settings
    by name."""

    def __init__(self, log_statements=False, port=None, ssl_files=None, settings=None):
        self.bindir = _bindir()
        self.host = "127.0.0.1"
        self.fixed_port = port
        self.port = port or free_port()
        self.ssl_files = ssl_files
        self.user = SUPERUSER
        self.password = PASSWORD
        self.log_statements = log_statements
        self.settings = dict(settings or {})
        self.base = tempfile.mkdtemp(prefix="talvo-pg-")
        self.datadir = os.path.join(self.base, "data")
        self.sockdir = os.path.join(self.base, "sock")
        self.logfile = os.path.join(self.base, "server.log")
        self._owner = None
        if os.geteuid() == 0:
            self._owner = pwd.getpwnam("postgres")

    # -- running server programs as the cluster's owner ----------------------
    def _run(self, argv, **kw):
        if self._owner is not None:
            argv = ["runuser", "-u", self._owner.pw_name, "--"] + argv
        return subprocess.run(argv, check=True, capture_output=True, text=True, **kw)

    def start(self):
        os.makedirs(self.sockdir)
        pwfile = os.path.join(self.base, "pwfile")
        with open(pwfile, "w") as f:
            f.write(self.password + "\n")
        if self._owner is not None:
            os.chmod(self.base, 0o755)
            for p in (self.base, self.sockdir, pwfile):
                os.chown(p, self._owner.pw_uid, self._owner.pw_gid)
        self._run([os.path.join(self.bindir, "initdb"), "-D", self.datadir, "-U", self.user,
                   "--pwfile", pwfile, "--auth-local=trust", "--auth-host=scram-sha-256",
                   "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"])
        if self.ssl_files:
            self._install_ssl_files()
        for attempt in range(5):
            try:
                self._run([os.path.join(self.bindir, "pg_ctl"), "-D", self.datadir, "-l",
                           self.logfile, "-w", "-o", " ".join(self._options()), "start"])
                return self
            except subprocess.CalledProcessError:
                # The free port may have been taken since it was chosen.
                if self.fixed_port or attempt == 4:
                    raise
                self.port = free_port()
        return self

    def _options(self):
        opts = [f"-c listen_addresses={self.host}", f"-c port={self.port}",
                f"-c unix_socket_directories={self.sockdir}", "-c fsync=off",
                "-c max_connections=100"]
        if self.log_statements:
            opts.append("-c log_statement=all")
        opts += [f"-c {name}={value}" for name, value in self.settings.items()]
        if self.ssl_files:
            opts += ["-c ssl=on", "-c ssl_cert_file=server.crt", "-c ssl_key_file=server.key"]
        return opts

    def _install_ssl_files(self):
        for source, name in zip(self.ssl_files, ("server.crt", "server.key")):
            target = os.path.join(self.datadir, name)
            shutil.copyfile(source, target)
            os.chmod(target, 0o600)
            if self._owner is not None:
                os.chown(target, self._owner.pw_uid, self._owner.pw_gid)

    def stop(self):
        try:
            self._run([os.path.join(self.bindir, "pg_ctl"), "-D", self.datadir, "-m", "immediate",
                       "-w", "stop"])
        except subprocess.CalledProcessError:
            pass
        shutil.rmtree(self.base, ignore_errors=True)

    # -- talking to the server independently of talvo ------------------------
    def psql(self, sql, database="postgres", user=None, password=None):
        """Runs SQL with psql over TCP; returns the unaligned, tuples-only output."""
        env = dict(os.environ, PGPASSWORD=password or self.password)
        out = subprocess.run(
            [os.path.join(self.bindir, "psql"), "-X", "-At", "-v", "ON_ERROR_STOP=1",
             "-h", self.host, "-p", str(self.port), "-U", user or self.user, "-d", database,
             "-c", sql], capture_output=True, text=True, env=env)
        if out.returncode != 0:
            raise RuntimeError(f"psql failed: {out.stderr.strip()}")
        return out.stdout.rstrip("\n")

    def server_log(self):
        with open(self.logfile, encoding="utf-8", errors="replace") as f:
            return f.read()

    def other_connections(self):
        """Client backends other than the one asking (for leak checks)."""
        return int(self.psql("SELECT count(*) FROM pg_stat_activity "
                             "WHERE backend_type = 'client backend' AND pid <> pg_backend_pid()"))

    def wait_until_no_connections(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.other_connections() == 0:
                return 0
            time.sleep(0.05)
        return self.other_connections()
