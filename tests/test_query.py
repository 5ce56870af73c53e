"""The query command: classification, limits, literal display, and the
read-only mode enforced by the keyword scan and by the server."""

import asyncio

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


def test_same_column_name_twice_keeps_both_values(query):
    out = query("SELECT 1 AS a, 2 AS a")
    assert table_rows(out) == [["1", "2"]]


def test_no_rows_and_other_statements(db, query):
    assert last_line(query("SELECT n FROM many WHERE n < 0")) == \
        "✅ Query executed. No rows returned."
    assert last_line(query("CREATE TABLE made_here (x int)")) == "✅ Query executed successfully"
    assert db.psql("SELECT count(*) FROM pg_tables WHERE tablename = 'made_here'",
                   database=DB) == "1"
    # Only texts beginning with SELECT are fetched.
    out = query("WITH x AS (SELECT 1) SELECT * FROM x")
    assert last_line(out) == "✅ Query executed successfully" and not table_rows(out)
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
    ("SELECT nextval('s')", "cannot execute nextval() in a read-only transaction"),
    ("COMMIT; GRANT SELECT ON kept TO talvo_reader",
     "cannot insert multiple commands into a prepared statement"),
    ("GRANT SELECT ON kept TO talvo_reader", "cannot execute GRANT in a read-only transaction"),
    ("SELECT writer()", "cannot execute INSERT in a read-only transaction"),
    ("CALL proc_writer()", "cannot execute INSERT in a read-only transaction"),
    ("COPY kept FROM PROGRAM 'echo 9'", "cannot execute COPY FROM in a read-only transaction"),
    ("SET TRANSACTION READ WRITE; SELECT writer()",
     "cannot insert multiple commands into a prepared statement"),
])
def test_read_only_enforced_by_the_server(db, query, sql, error):
    before = kept_state(db)
    out = query(sql, readonly=True)
    assert last_line(out) == "❌ Query error: " + error
    assert kept_state(db) == before
    assert db.wait_until_no_connections() == 0


def test_without_read_only_the_same_texts_run(db, query):
    before = kept_state(db)
    query("SELECT nextval('s')")
    assert kept_state(db)[1] != before[1]


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

    async def main():
        coro = t.execute_query(args)
        if how == "cancel":
            task = asyncio.ensure_future(coro)
            await asyncio.sleep(1.0)
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
