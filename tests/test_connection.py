"""get_connection: argument kinds, the settings sources and their precedence,
the announcement, and the failures that end the program."""

import os
import socket
import time

import pytest

import talvo.talvo as t
from inprocess import run, stand_ins  # noqa: F401


@pytest.fixture
def connect(pg, stand_ins, capsys):
    """connect(**overrides) -> (connection or None, output); the connection is closed."""
    def go(**overrides):
        kwargs = dict(host=pg.host, port=pg.port, user=pg.user, password=pg.password,
                      auto_settings=False)
        kwargs.update(overrides)

        async def once():
            conn = await t.get_connection(**kwargs)
            if conn is None:
                return None
            try:
                return await conn.fetchval("SELECT current_database() || ':' || current_user")
            finally:
                await conn.close()

        got = run(once())
        return got, capsys.readouterr().out

    return go


def test_arguments_alone_connect_when_no_config_file_exists(pg, connect):
    got, out = connect(database="postgres")
    assert got == "postgres:postgres"
    assert out == "🔍 Using host=127.0.0.1, user=postgres, db=postgres, passwd=" + \
        "*" * len(pg.password) + "\n"


@pytest.mark.parametrize("name, value, expected", [
    ("host", 5, "host must be a str or None, not int"),
    ("user", 1.5, "user must be a str or None, not float"),
    ("password", b"x", "password must be a str or None, not bytes"),
    ("database", ["d"], "database must be a str or None, not list"),
    ("port", "54x", "port must be an int, a decimal str or None, not str"),
    ("port", 5.0, "port must be an int, a decimal str or None, not float"),
    ("max_depth_up", "1", "max_depth_up must be an int, not str"),
    ("max_depth_down", None, "max_depth_down must be an int, not NoneType"),
])
def test_argument_kinds_are_checked_first(connect, capsys, name, value, expected):
    with pytest.raises(TypeError) as e:
        connect(**{name: value})
    assert str(e.value) == expected
    assert capsys.readouterr().out == ""


def test_decimal_port_text_is_its_number(pg, connect):
    got, _ = connect(port=str(pg.port))
    assert got == "postgres:postgres"


def test_wrong_password_ends_the_program(connect, capsys):
    with pytest.raises(SystemExit) as e:
        connect(password="wrong-pw")
    assert e.value.code == 1
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].endswith("passwd=********")
    assert lines[1] == '❌ Connection failed: password authentication failed for user "postgres"'


def test_unknown_database_ends_the_program(connect, capsys):
    with pytest.raises(SystemExit) as e:
        connect(database="no_such_db")
    assert e.value.code == 1
    assert capsys.readouterr().out.splitlines()[-1] == \
        '❌ Connection failed: database "no_such_db" does not exist'


def test_server_that_never_answers_times_out_after_ten_seconds(connect, capsys):
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)  # the handshake completes in the backlog; nothing ever replies
        port = silent.getsockname()[1]
        started = time.monotonic()
        with pytest.raises(SystemExit) as e:
            connect(port=port)
        elapsed = time.monotonic() - started
    assert e.value.code == 1
    assert 9.5 <= elapsed <= 13
    assert capsys.readouterr().out.splitlines()[-1] == (
        f"❌ Connection failed: no answer from 127.0.0.1:{port} within 10 seconds")


@pytest.mark.parametrize("mode,found", [(0o600, True), (0o644, False)])
def test_null_password_comes_from_the_password_file(pg, connect, tmp_path, mode, found):
    pgpass = tmp_path / "pgpass"
    pgpass.write_text(f"# comment\nother:*:*:*:no\n{pg.host}:{pg.port}:*:{pg.user}:{pg.password}\n")
    pgpass.chmod(mode)
    os.environ["PGPASSFILE"] = str(pgpass)
    try:
        if found:
            got, out = connect(password=None)
            assert got == "postgres:postgres"
            # The password used is announced like any other, masked.
            assert out.endswith(", passwd=" + "*" * len(pg.password) + "\n")
        else:
            # A file others may read is ignored, as libpq ignores it.
            with pytest.raises(SystemExit):
                connect(password=None)
    finally:
        del os.environ["PGPASSFILE"]


def test_environment_overrides_arguments(pg, connect, stand_ins):
    pg.psql("DROP DATABASE IF EXISTS talvo_envdb")
    pg.psql("CREATE DATABASE talvo_envdb")
    try:
        stand_ins.setenv("PORT", str(pg.port))
        stand_ins.setenv("DB_NAME", "talvo_envdb")
        stand_ins.setenv("USER", pg.user)
        stand_ins.setenv("PASSWORD", pg.password)
        got, out = connect(port=1, user="nobody", password="x", database="postgres")
        assert got == "talvo_envdb:postgres"
        assert "db=talvo_envdb" in out
    finally:
        pg.psql("DROP DATABASE talvo_envdb WITH (FORCE)")


def write(path, text):
    path.write_text(text)
    return str(path)


def test_config_file_naming_postgres_replaces_every_value(pg, connect, tmp_path, stand_ins):
    env = write(tmp_path / ".env",
                f"engine=postgresql\nENGINE=postgresql\nNAME=template1\nUSER={pg.user}\n"
                f"password={pg.password}\nport={pg.port}\n")
    # No host key: the host from the arguments is lost unless HOST is set.
    stand_ins.setenv("HOST", pg.host)
    got, out = connect(host="10.255.255.1", user="x", password="y", port=1)
    assert got == "template1:postgres"
    lines = out.splitlines()
    assert lines[:2] == ["📄 Found config at: " + env] * 2
    assert lines[2].startswith("🔍 Using host=127.0.0.1, user=postgres, db=template1, passwd=*")


def test_config_file_keys_without_value_keep_the_arguments(pg, connect, tmp_path):
    write(tmp_path / ".env", "ENGINE=postgresql\nNAME=template1\nHOST=\nDB_USER=app\n")
    # The file names the database only: host, port, user and password stay
    # those of the arguments instead of turning into None.
    got, out = connect()
    assert got == "template1:postgres"
    assert f"🔍 Using host={pg.host}, user={pg.user}, db=template1, passwd=*" in out


def test_config_file_for_another_engine_contributes_nothing(pg, connect, tmp_path):
    write(tmp_path / ".env", "ENGINE=mysql\nNAME=shop\nHOST=10.255.255.1\n")
    got, out = connect()
    assert got == "postgres:postgres"
    assert "Found config" not in out


def test_settings_branch(pg, connect, stand_ins):
    seen = []

    def settings(path, max_depth_up=0, max_depth_down=1):
        seen.append((path, max_depth_up, max_depth_down))
        return {"host": pg.host, "port": str(pg.port), "username": pg.user,
                "password": pg.password, "database": "template1"}

    stand_ins.setattr(t, "parse_django_settings", settings)
    got, _ = connect(auto_settings=True, settings_path="x.env", max_depth_up=2, port=1,
                     user="nobody", database="postgres")
    assert got == "template1:postgres"
    assert seen == [("x.env", 2, 1)]
