import os
import pwd
import shutil
import subprocess
import sys

import pytest

from pgcluster import Cluster

# Variables that change what talvo does; a test sets the ones it wants.
TALVO_VARIABLES = (
    "USER", "HOST", "PORT", "PASSWORD", "DATABASE", "DB_NAME", "DB",
    "DEBUG", "LOGGING", "TRACEBACK", "NO_LOGGING", "FORCE_PLAIN_LOG",
    "PGPASSFILE", "PGPASSWORD", "PGHOST", "PGPORT", "PGUSER", "PGDATABASE",
    "NO_COLOR", "FORCE_COLOR", "COLUMNS", "LINES", "TERM",
)


@pytest.fixture(scope="session")
def pg():
    """A PostgreSQL server for the whole test session. It takes prepared
    transactions, so a test can show that a command leaves none behind."""
    cluster = Cluster(settings={"max_prepared_transactions": 4}).start()
    yield cluster
    cluster.stop()


@pytest.fixture(scope="session")
def pg_logged():
    """A server that logs every statement it receives (log_statement=all)."""
    cluster = Cluster(log_statements=True).start()
    yield cluster
    cluster.stop()


def login_name():
    """The name a login shell puts in USER and LOGNAME for this process."""
    return pwd.getpwuid(os.geteuid()).pw_name


def talvo_environment(home, **overrides):
    """The environment of a login shell with none of the variables talvo
    reads but USER: USER and LOGNAME are the login name, as a login sets
    them, HOME is a fresh directory (so no ~/.pgpass applies), and output is
    wide and plain."""
    env = {k: v for k, v in os.environ.items() if k not in TALVO_VARIABLES}
    env["USER"] = env["LOGNAME"] = login_name()
    env["HOME"] = str(home)
    env.setdefault("LANG", "C.UTF-8")
    env["COLUMNS"] = "200"
    env["PYTHONIOENCODING"] = "utf-8"
    for key, value in overrides.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = str(value)
    return env


def talvo_executable():
    exe = shutil.which("talvo", path=os.path.dirname(sys.executable))
    if exe is None:
        raise RuntimeError("the talvo console script is not installed beside this interpreter")
    return exe


@pytest.fixture
def run_talvo(tmp_path):
    """Runs the installed console script: run_talvo("show", "dbs", cwd=..., env={...},
    input="...") gives the finished process (returncode, stdout, stderr)."""
    home = tmp_path / "home"
    home.mkdir(exist_ok=True)

    def run(*argv, cwd=None, env=None, input=None, timeout=60):
        return subprocess.run([talvo_executable(), *argv], cwd=cwd or tmp_path,
                              env=talvo_environment(home, **(env or {})), input=input,
                              capture_output=True, text=True, timeout=timeout)

    return run


@pytest.fixture
def clean_env(monkeypatch, tmp_path):
    """For tests that call the module in-process: the same clean variables."""
    for key in TALVO_VARIABLES:
        monkeypatch.delenv(key, raising=False)
    monkeypatch.setenv("USER", login_name())
    monkeypatch.setenv("LOGNAME", login_name())
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    return monkeypatch


def write_env_file(directory, pg, database="postgres", name=".env", **extra):
    """A .env that points talvo at the test server."""
    lines = [
        "POSTGRES_HOST=" + pg.host,
        "POSTGRES_PORT=" + str(pg.port),
        "POSTGRES_USER=" + pg.user,
        "POSTGRES_PASSWORD=" + pg.password,
        "POSTGRES_DB=" + database,
    ] + [f"{k}={v}" for k, v in extra.items()]
    path = os.path.join(str(directory), name)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path
