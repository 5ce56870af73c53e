"""connect: explicit credentials, failures reported instead of raised."""
import asyncio

import pytest

import talvo.talvo as tv
from admin_support import ExceptionPrinter, admin, closed_port  # noqa: F401


def test_opens_a_connection_owned_by_the_caller(pg, admin):
    async def go():
        conn = await tv.connect(database="postgres", user=pg.user, password=pg.password,
                                host=pg.host, port=pg.port)
        try:
            return await conn.fetchval("SELECT current_database()")
        finally:
            await conn.close()

    assert asyncio.run(go()) == "postgres"
    assert pg.wait_until_no_connections() == 0


def test_refused_password_is_reported_and_gives_none(pg, admin, capsys):
    result = asyncio.run(tv.connect(user=pg.user, password="wrong", host=pg.host, port=pg.port))
    assert result is None
    out = capsys.readouterr().out
    assert out.startswith("❌ Error (new user connection): ")
    assert 'password authentication failed for user "postgres"' in out
    assert pg.wait_until_no_connections() == 0


def test_defaults_are_template1_postgres_on_local_5432(admin, capsys):
    result = asyncio.run(tv.connect())
    if result is not None:  # a server happens to listen there
        asyncio.run(result.close())
        return
    assert "5432" in capsys.readouterr().out


@pytest.mark.parametrize("switch, printer, expect", [
    ("TRUE", True, "tprint"),
    ("yes", False, "traceback"),
    ("1", False, "traceback"),
    ("on", True, "line"),
    ("2", False, "line"),
    (None, True, "line"),
])
def test_traceback_switch(admin, capsys, switch, printer, expect):
    tprint = ExceptionPrinter()
    with pytest.MonkeyPatch.context() as mp:
        if switch is not None:
            mp.setenv("TRACEBACK", switch)
        if printer:
            mp.setattr(tv, "tprint", tprint)
        result = asyncio.run(tv.connect(port=closed_port()))
    assert result is None
    out = capsys.readouterr().out
    if expect == "tprint":
        assert len(tprint.seen) == 1 and isinstance(tprint.seen[0], OSError)
        assert out == ""
    elif expect == "traceback":
        assert out.startswith("Traceback (most recent call last):")
        assert "Error (new user connection)" not in out
    else:
        assert out.startswith("❌ Error (new user connection): ")
        assert tprint.seen == []
