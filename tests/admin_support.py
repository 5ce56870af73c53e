"""Shared pieces of the tests of the commands that change roles and databases:
the args records as the grammar makes them, in-process runs with typed
answers, and runs under a pseudo-terminal for the masked prompts."""
import asyncio
import io
import os
import sys
import textwrap
import types
import uuid

import pytest

import talvo.talvo as tv


class RecordingLogger:
    """Stands in for the module's logger and keeps every line it is given."""

    LEVELS = ("debug", "info", "notice", "warning", "error", "alert", "emergency", "exception")

    def __init__(self):
        self.lines = []
        for level in self.LEVELS:
            setattr(self, level, self._recorder(level))

    def _recorder(self, level):
        def record(msg, *args, color=None, **kw):
            self.lines.append((level, msg))
        return record

    def messages(self, level=None):
        return [m for lv, m in self.lines if level in (None, lv)]


class ExceptionPrinter:
    """Records what sys.exc_info() showed each time it was called."""

    def __init__(self):
        self.seen = []

    def __call__(self, *args):
        self.seen.append(args[0] if args else sys.exc_info()[1])


@pytest.fixture
def admin(clean_env):
    """The module as the handlers use it, with a recording logger."""
    log = RecordingLogger()
    # Wide enough that the console never wraps a message line.
    clean_env.setenv("COLUMNS", "200")
    clean_env.setattr(tv, "logger", log)
    clean_env.setattr(tv, "tprint", None)
    return log


def settings_found(result):
    """A settings extraction that finds `result` and records its calls."""
    calls = []

    def parse_django_settings(path=None, max_depth_up=0, max_depth_down=1):
        calls.append((path, max_depth_up, max_depth_down))
        return result

    def install(monkeypatch):
        monkeypatch.setattr(tv, "parse_django_settings", parse_django_settings, raising=False)
        return calls

    return install


def unique(prefix):
    return prefix + "_" + uuid.uuid4().hex[:8]


def create_args(pg, *words, username=None, password=None, database=None, **top):
    values = dict(CONFIG_FILE=None, hostname=pg.host, user=pg.user, passwd=pg.password,
                  port=pg.port, up_level=0, down_level=0, debug=False, version=False,
                  command="create", CONFIG=list(words), username=username, password=password,
                  database=database)
    values.update(top)
    return types.SimpleNamespace(**values)


def drop_database_args(pg, database, **top):
    values = dict(CONFIG_FILE=None, hostname=pg.host, user=pg.user, passwd=pg.password,
                  port=pg.port, up_level=0, down_level=1, debug=False, version=False,
                  command="drop", drop_command="database", database=database)
    values.update(top)
    return types.SimpleNamespace(**values)


def drop_user_args(pg, username, **top):
    values = dict(CONFIG_FILE=None, hostname=pg.host, user=pg.user, passwd=pg.password,
                  port=pg.port, up_level=0, down_level=1, debug=False, version=False,
                  command="drop", drop_command="user", username=username)
    values.update(top)
    return types.SimpleNamespace(**values)


def run(monkeypatch, coroutine, answers=""):
    """Awaits a handler with `answers` as standard input."""
    monkeypatch.setattr(sys, "stdin", io.StringIO(answers))
    return asyncio.run(coroutine)


def closed_port():
    from pgcluster import free_port
    return free_port()


def role_exists(pg, name):
    return pg.psql("SELECT count(*) FROM pg_roles WHERE rolname = '%s'"
                   % name.replace("'", "''")) == "1"


def database_owner(pg, name):
    return pg.psql("SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = '%s'"
                   % name.replace("'", "''"))


def drop_everything(pg, databases=(), roles=()):
    for db in databases:
        pg.psql('DROP DATABASE IF EXISTS "%s" WITH (FORCE)' % db.replace('"', '""'))
    for role in roles:
        pg.psql('DROP ROLE IF EXISTS "%s"' % role.replace('"', '""'))


async def can_log_in(pg, user, password, database="template1"):
    import asyncpg
    conn = await asyncpg.connect(host=pg.host, port=pg.port, user=user, password=password,
                                 database=database)
    try:
        return await conn.fetchval("SELECT current_user")
    finally:
        await conn.close()


PTY_SCRIPT = textwrap.dedent("""
    import asyncio, sys, types
    sys.path.insert(0, {tests!r})
    import admin_support
    import talvo.talvo as tv
    tv.logger = admin_support.RecordingLogger()
    args = types.SimpleNamespace(**{args!r})
    asyncio.run(getattr(tv, {handler!r})(args))
    print("HANDLER DONE")
""")


def spawn_handler(tmp_path, handler, args, env=None):
    """Runs a handler in a child process on a pseudo-terminal, so the masked
    prompt reads from it as from a person."""
    import pexpect
    script = tmp_path / "run_handler.py"
    script.write_text(PTY_SCRIPT.format(tests=os.path.dirname(__file__), handler=handler,
                                        args=vars(args)))
    child_env = {k: v for k, v in os.environ.items() if k not in ("TRACEBACK", "PASSWORD")}
    child_env["COLUMNS"] = "200"
    child_env.update(env or {})
    return pexpect.spawn(sys.executable, [str(script)], cwd=str(tmp_path), env=child_env,
                         encoding="utf-8", timeout=30)
