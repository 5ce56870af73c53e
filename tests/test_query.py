"""The query command: classification, limits, literal display, and the
read-only mode enforced by the keyword scan and by the server."""

import asyncio
import os

import pytest

import talvo.talvo as t
from inprocess import REQUIRED_WITH_HINT, command_args, headers, run, stand_ins, table_rows  # noqa: F401


DB = "talvo_query"

SCHEMA = """
CREATE TABLE many (n int);
INSERT INTO many SELECT g FROM generate_series(1, 150) g;
CREATE TABLE kept (n int);
INSERT INTO kept VALUES (1);
CREATE SEQUENCE s;
CREATE FUNCTION writer() RETURNS int LANGUAGE sql AS 'INSERT INTO kept VALUES (2) RETURNING n';
CREATE PROCEDURE proc_writer() LANGUAGE sql AS 'INSERT INTO kept VALUES (3)';
"""


@pytest.fixture(scope="module")
def db(pg):
    pg.psql(f"DROP DATABASE IF EXISTS {DB}")
    pg.psql(f"CREATE DATABASE {DB}")
    pg.psql(SCHEMA, database=DB)
    pg.psql("DROP ROLE IF EXISTS talvo_reader; CREATE ROLE talvo_reader")
    yield pg
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")
    pg.psql("DROP ROLE IF EXISTS talvo_reader")


@pytest.fixture
def query(db, stand_ins, capsys):
    def go(sql, **values):
        values.setdefault("database", DB)
        run(t.execute_query(command_args(db, "query", query=sql, **values)))
        out = capsys.readouterr().out
        assert out.startswith(("🔍 Using host=", "❌")), out
        return out

    return go


def last_line(out):
    return out.splitlines()[-1]


def test_lower_case_select_after_blanks_shows_rows(query):
    out = query("\n   select n, n * 2 AS twice from many where n <= 2 order by n")
    assert headers(out) == ["n", "twice"]
    assert table_rows(out) == [["1", "2"], ["2", "4"]]
    assert "Query Results" in out


@pytest.mark.parametrize("limit, shown, warning", [
    (None, 100, "⚠️ Showing 100 of 150 rows"),
    (0, 100, "⚠️ Showing 100 of 150 rows"),
    (150, 150, None),
    (5, 5, "⚠️ Showing 5 of 150 rows"),
    (200, 150, None),
    (-2, 148, "⚠️ Showing -2 of 150 rows"),
])
def test_display_limit(query, limit, shown, warning):
    out = query("SELECT n FROM many ORDER BY n", limit=limit)
    rows = table_rows(out)
    assert len(rows) == shown
    assert rows[0] == ["1"] and rows[-1] == [str(shown)]
    if warning:
        assert last_line(out) == warning
    else:
        assert "⚠️" not in out


def test_limit_larger_than_a_small_result(query):
    out = query("SELECT n FROM many WHERE n <= 3", limit=5)
    assert len(table_rows(out)) == 3 and "⚠️" not in out


def test_values_shown_literally(query):
    out = query("SELECT '[/]' AS \"[/]\", '[bold]x[/bold]' AS b, ':smile:' AS c, 'a[b]c' AS d, "
                "NULL AS e, '' AS f, true AS g, 1.50::numeric AS h")
    assert headers(out) == ["[/]", "b", "c", "d", "e", "f", "g", "h"]
    assert table_rows(out) == [["[/]", "[bold]x[/bold]", ":smile:", "a[b]c", "NULL", "", "True",
                                "1.50"]]


def test_control_characters_and_infinity_are_shown_visibly(query):
    out = query("SELECT E'\\x1b[2J\\x1b]0;PWNED\\x07' AS esc, E'a\\rb\\tc' AS cr, "
                "E'\\x01\\x7f' || chr(155) || '[31m' AS mix, E'two\\nlines' AS lf, "
                "'infinity'::date AS d, '-infinity'::date AS nd, 'infinity'::timestamp AS ts, "
                "'-infinity'::timestamptz AS ntz, '2024-01-31'::date AS plain, "
                "1 AS U&\"h\\001b]0;x\"")
    assert not any(c in out for c in "\x1b\r\x07\x01\x7f\x9b")
    assert headers(out)[-1] == "h\\x1b]0;x"
    # The line break stays one, inside its cell.
    assert table_rows(out) == [
        ["\\x1b[2J\\x1b]0;PWNED\\x07", "a\\rb\\tc", "\\x01\\x7f\\x9b[31m", "two",
         "infinity", "-infinity", "infinity", "-infinity", "2024-01-31", "1"],
        ["", "", "", "lines", "", "", "", "", "", ""],
    ]
    # Server errors quote the name they are about.
    assert last_line(query('SELECT * FROM "\x1b[2J"')) == \
        '❌ Query error: relation "\\x1b[2J" does not exist'


def test_same_column_name_twice_keeps_both_values(query):
    out = query("SELECT 1 AS a, 2 AS a")
    assert table_rows(out) == [["1", "2"]]


def test_no_rows_and_other_statements(db, query):
    assert last_line(query("SELECT n FROM many WHERE n < 0")) == \
        "✅ Query executed. No rows returned."
    assert last_line(query("CREATE TABLE made_here (x int)")) == "✅ Query executed successfully"
    assert db.psql("SELECT count(*) FROM pg_tables WHERE tablename = 'made_here'",
                   database=DB) == "1"
    # What the server says returns rows is fetched, whatever its first word.
    assert table_rows(query("WITH x AS (SELECT 1) SELECT * FROM x")) == [["1"]]
    query("DROP TABLE made_here")


def test_failing_select_still_closes_its_connection(db, query):
    out = query("SELECT * FROM no_such_table")
    assert last_line(out) == '❌ Query error: relation "no_such_table" does not exist'
    assert db.wait_until_no_connections() == 0
    assert db.psql("SELECT count(*) FROM pg_stat_activity WHERE datname = %s" % f"'{DB}'") == "0"


def test_missing_inputs(query):
    assert query("") == "❌ Query required. Use -q/--query\n"
    assert query("SELECT 1", database=None).startswith(REQUIRED_WITH_HINT)


def test_read_only_keyword_scan(query):
    # A substring, not a word: the literal 'dropped' contains DROP.
    assert query("SELECT 'dropped'", readonly=True) == \
        "❌ Destructive queries not allowed in read-only mode\n"
    assert query("select last_updated from t", readonly=True) == \
        "❌ Destructive queries not allowed in read-only mode\n"
    assert table_rows(query("SELECT 1 AS one", readonly=True)) == [["1"]]


def kept_state(db):
    return db.psql("SELECT string_agg(n::text, ',' ORDER BY n) FROM kept", database=DB), \
        db.psql("SELECT last_value || ',' || is_called FROM s", database=DB), \
        db.psql("SELECT has_table_privilege('talvo_reader', 'kept', 'SELECT')", database=DB)


@pytest.mark.parametrize("sql, error", [
    ("SELECT nextval('s')", "permission denied for sequence s"),
    ("SELECT 1; GRANT SELECT ON kept TO talvo_reader",
     "cannot insert multiple commands into a prepared statement"),
    ("GRANT SELECT ON kept TO talvo_reader", "cannot execute GRANT in a read-only transaction"),
    ("SELECT writer()", "cannot execute INSERT in a read-only transaction"),
    ("CALL proc_writer()", "cannot execute INSERT in a read-only transaction"),
    ("COPY kept FROM PROGRAM 'echo 9'", "must be superuser or have privileges of the "
     "pg_execute_server_program role to COPY to or from an external program"),
    ("SET TRANSACTION READ WRITE; SELECT writer()",
     "cannot insert multiple commands into a prepared statement"),
])
def test_read_only_enforced_by_the_server(db, query, sql, error):
    before = kept_state(db)
    out = query(sql, readonly=True)
    assert "❌ Query error: " + error in out.splitlines()
    assert kept_state(db) == before
    assert db.wait_until_no_connections() == 0


def test_without_read_only_the_same_texts_run(db, query):
    before = kept_state(db)
    query("SELECT nextval('s')")
    assert kept_state(db)[1] != before[1]
    marker = os.path.join(db.base, "written_by_copy")
    query(f"COPY (SELECT 1) TO PROGRAM 'touch {marker}'")
    assert os.path.exists(marker)
    os.remove(marker)


@pytest.fixture
def other_session(db):
    """Another client's idle session, on a loop of its own."""
    import asyncpg
    loop = asyncio.new_event_loop()
    conn = loop.run_until_complete(asyncpg.connect(
        host=db.host, port=db.port, user=db.user, password=db.password, database=DB))
    yield conn.get_server_pid()
    if not conn.is_closed():
        loop.run_until_complete(conn.close())
    loop.close()


# What the server lets a superuser do even in a read-only transaction, and
# how to see from outside whether it happened.
OUTSIDE_EFFECTS = {
    "program": ("COPY (SELECT 1) TO PROGRAM 'touch {marker}'", "pg_execute_server_program",
                lambda db, marker, pid: os.path.exists(marker)),
    "file": ("COPY (SELECT 1) TO '{marker}'", "pg_write_server_files",
             lambda db, marker, pid: os.path.exists(marker)),
    "terminate": ("SELECT pg_terminate_backend({pid})", "terminate",
                  lambda db, marker, pid: db.psql(
                      f"SELECT count(*) FROM pg_stat_activity WHERE pid = {pid}")),
    "reload": ("SELECT pg_reload_conf()", "pg_reload_conf",
               lambda db, marker, pid: db.psql("SELECT pg_conf_load_time()")),
    "checkpoint": ("CHECKPOINT", "CHECKPOINT",
                   lambda db, marker, pid: db.psql(
                       "SELECT checkpoint_lsn FROM pg_control_checkpoint()")),
    "switch wal": ("SELECT pg_switch_wal()", "pg_switch_wal",
                   lambda db, marker, pid: db.psql(
                       "SELECT pg_walfile_name(pg_current_wal_insert_lsn())")),
}


@pytest.mark.parametrize("effect", OUTSIDE_EFFECTS)
def test_read_only_superuser_changes_nothing_outside_the_transaction(db, query, other_session,
                                                                     effect):
    sql, reason, observe = OUTSIDE_EFFECTS[effect]
    marker = os.path.join(db.base, "readonly_" + effect.replace(" ", "_"))
    before = observe(db, marker, other_session)
    out = query(sql.format(marker=marker, pid=other_session), readonly=True)
    errors = [line for line in out.splitlines() if line.startswith("❌ Query error: ")]
    assert len(errors) == 1 and reason in errors[0], out
    assert observe(db, marker, other_session) == before
    assert not os.path.exists(marker)


@pytest.fixture
def login_role(db):
    db.psql("DROP ROLE IF EXISTS talvo_ordinary; "
            "CREATE ROLE talvo_ordinary LOGIN PASSWORD 'ordinary-pw'")
    yield "talvo_ordinary"
    db.psql("DROP ROLE IF EXISTS talvo_ordinary")


def test_read_only_select_as_superuser_and_as_ordinary_role(db, query, login_role):
    assert table_rows(query("SELECT n FROM many WHERE n <= 2 ORDER BY n", readonly=True)) == \
        [["1"], ["2"]]
    as_ordinary = dict(readonly=True, user=login_role, passwd="ordinary-pw")
    # Not allowed to switch to the reading role, but holding no power beyond
    # its transaction: it runs as itself.
    assert table_rows(query("SELECT 1 AS one", **as_ordinary)) == [["1"]]
    # Allowed to signal others' sessions: refused, not run as itself.
    db.psql(f"GRANT pg_signal_backend TO {login_role}")
    assert last_line(query("SELECT 1 AS one", **as_ordinary)) == (
        "❌ Query error: read-only mode runs the query as pg_read_all_data (PostgreSQL 14 or "
        "later), which this role may not switch to: permission denied to set role "
        '"pg_read_all_data"')
    db.psql(f"GRANT pg_read_all_data TO {login_role}")
    assert table_rows(query("SELECT n FROM many WHERE n = 3", **as_ordinary)) == [["3"]]
    assert db.wait_until_no_connections() == 0


@pytest.mark.parametrize("how", ["cancel", "close"])
def test_interrupted_query_closes_its_connection(db, stand_ins, capsys, how):
    real_get_connection = t.get_connection
    opened = []

    async def recording(**kwargs):
        conn = await real_get_connection(**kwargs)
        opened.append(conn)
        return conn

    stand_ins.setattr(t, "get_connection", recording)
    args = command_args(db, "query", database=DB, query="SELECT pg_sleep(5)")

    def running():
        return db.psql("SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep'") != "0"

    async def main():
        coro = t.execute_query(args)
        if how == "cancel":
            task = asyncio.ensure_future(coro)
            # Cancelled once the statement runs on the server, not after a guess.
            deadline = asyncio.get_running_loop().time() + 20
            while not await asyncio.to_thread(running):
                assert asyncio.get_running_loop().time() < deadline, "the query never started"
                await asyncio.sleep(0.02)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task
        else:
            await _drive_then_close(coro)

    run(main())
    assert len(opened) == 1 and opened[0].is_closed()
    if how == "cancel":
        # The driver cancels the running statement; the close ends the session.
        assert db.wait_until_no_connections() == 0
    assert "Query error" not in capsys.readouterr().out


async def _drive_then_close(coro):
    """Runs the coroutine by hand until it waits on the server, then closes
    it, as a generator is closed: nothing may be awaited any more."""
    loop = asyncio.get_running_loop()
    deadline = loop.time() + 1.0
    yielded = coro.send(None)
    while loop.time() < deadline:
        if isinstance(yielded, asyncio.Future):
            await asyncio.wait([yielded], timeout=max(0.0, deadline - loop.time()))
            if not yielded.done():
                break
        else:
            await asyncio.sleep(0)
        yielded = coro.send(None)
    coro.close()
