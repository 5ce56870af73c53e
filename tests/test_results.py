"""Results for scripts and big tables: rows from every statement that returns
them, only the rows shown transferred, and --format csv and json with the
data alone on standard output, checked against the server's own COPY."""

import csv
import io
import json
from decimal import Decimal

import pytest

import talvo.talvo as t
from conftest import write_env_file
from inprocess import command_args, headers, run, stand_ins, table_rows  # noqa: F401

DB = "talvo_results"

SCHEMA = r"""
CREATE TABLE many (n int);
INSERT INTO many SELECT g FROM generate_series(1, 150) g;
CREATE TABLE kept (n int);
CREATE SEQUENCE counter;
CREATE FUNCTION keep(v int) RETURNS int LANGUAGE sql AS 'INSERT INTO kept VALUES (v) RETURNING v';
CREATE TABLE typed (
    id int, label text, amount numeric(40,20), big bigint, ratio float8, ok bool,
    at timestamptz, day date, span interval, raw bytea, doc jsonb, ints int[], words text[]);
INSERT INTO typed VALUES
    (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
    (2, '', 12345.67890123456789012345, 9223372036854775807, 1.5, true,
     '2024-01-31 12:34:56.5+00', '2024-01-31', '1 mon 2 days 03:04:05', '\x00ff',
     '{"a": [1, "x"], "b": null}', '{1,2,NULL}', '{a,"b c",NULL,"NULL"}'),
    (3, 'say "hi", then
leave', -0.00000000000000000001, -42, 'NaN', false,
     'infinity', '-infinity', '-1 day', '', '"just text"', '{}', '{}'),
    (4, 'Müller 東京 🐘 \', 0, 0, 'Infinity', NULL,
     '1999-12-31 23:59:59+00', '0044-03-15 BC', '0', '\x5c', '[]', '{{1,2},{3,4}}', '{""}'),
    (5, ',', 1, 1, '-Infinity', true, NULL, NULL, NULL, NULL, 'true', NULL, '{","}');
"""

TYPED = "SELECT * FROM typed ORDER BY id"

# The rows of TYPED as JSON holds them, by type: numbers as numbers (numeric
# exactly), non-finite floats as strings, time stamps in ISO 8601, intervals
# and bytea as text, jsonb nested, arrays as arrays.
TYPED_JSON = [
    {"id": 1, "label": None, "amount": None, "big": None, "ratio": None, "ok": None, "at": None,
     "day": None, "span": None, "raw": None, "doc": None, "ints": None, "words": None},
    {"id": 2, "label": "", "amount": Decimal("12345.67890123456789012345"),
     "big": 9223372036854775807, "ratio": Decimal("1.5"), "ok": True,
     "at": "2024-01-31T12:34:56.5+00:00", "day": "2024-01-31", "span": "1 mon 2 days 03:04:05",
     "raw": "\\x00ff", "doc": {"a": [1, "x"], "b": None}, "ints": [1, 2, None],
     "words": ["a", "b c", None, "NULL"]},
    {"id": 3, "label": 'say "hi", then\nleave', "amount": Decimal("-0.00000000000000000001"),
     "big": -42, "ratio": "NaN", "ok": False, "at": "infinity", "day": "-infinity",
     "span": "-1 days", "raw": "\\x", "doc": "just text", "ints": [], "words": []},
    {"id": 4, "label": "Müller 東京 🐘 \\", "amount": Decimal("0E-20"), "big": 0,
     "ratio": "Infinity", "ok": None, "at": "1999-12-31T23:59:59+00:00", "day": "0044-03-15 BC",
     "span": "00:00:00", "raw": "\\x5c", "doc": [], "ints": [[1, 2], [3, 4]], "words": [""]},
    {"id": 5, "label": ",", "amount": Decimal("1.00000000000000000000"), "big": 1,
     "ratio": "-Infinity", "ok": True, "at": None, "day": None, "span": None, "raw": None,
     "doc": True, "ints": None, "words": [","]},
]


@pytest.fixture(scope="module")
def db(pg):
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")
    pg.psql(f"CREATE DATABASE {DB}")
    pg.psql(SCHEMA, database=DB)
    yield pg
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")


@pytest.fixture
def talvo(db, run_talvo, tmp_path_factory):
    """Runs talvo in a project whose .env names the test database. The
    project is a directory of its own, out of reach of the in-process tests'
    settings search."""
    project = tmp_path_factory.mktemp("project")
    write_env_file(project, db, database=DB)

    def go(*argv):
        p = run_talvo(*argv, cwd=project)
        assert "Traceback" not in p.stdout + p.stderr, p.stderr
        return p

    return go


@pytest.fixture
def query(db, stand_ins, capsys):
    """The query handler in this process: its output."""
    def go(sql, **values):
        run(t.execute_query(command_args(db, "query", database=DB, query=sql, **values)))
        return capsys.readouterr().out

    return go


def server_copy(db, sql):
    return db.psql(f"COPY ({sql}) TO STDOUT WITH (FORMAT csv, HEADER)", database=DB) + "\n"


def messages(p):
    return p.stderr.splitlines()


def kept(db):
    return db.psql("SELECT coalesce(string_agg(n::text, ',' ORDER BY n), '') FROM kept",
                   database=DB)


@pytest.mark.parametrize("sql, shown", [
    ("WITH x AS (SELECT 2 AS a) SELECT a * 2 AS four FROM x", (["four"], [["4"]])),
    ("VALUES (1, 'one'), (2, NULL)", (["column1", "column2"], [["1", "one"], ["2", "NULL"]])),
    ("TABLE many LIMIT 2", (["n"], [["1"], ["2"]])),
    ("SHOW DateStyle", (["DateStyle"], [["ISO, MDY"]])),
    ("EXPLAIN (COSTS OFF) SELECT 1", (["QUERY PLAN"], [["Result"]])),
])
def test_statements_that_return_rows_show_them(query, sql, shown):
    out = query(sql)
    assert (headers(out), table_rows(out)) == shown


def test_insert_returning_shows_its_rows_and_inserts_once(db, query, talvo):
    out = query("INSERT INTO kept VALUES (7), (8) RETURNING n, n * 10 AS tens")
    assert table_rows(out) == [["7", "70"], ["8", "80"]]
    # CSV without a limit goes through COPY; with a limit, a subquery cannot
    # hold the statement and a WITH query counts it: once each all the same.
    assert talvo("--format", "csv", "query", "-q", "INSERT INTO kept VALUES (9) RETURNING n")\
        .stdout == "n\n9\n"
    p = talvo("query", "-q", "INSERT INTO kept VALUES (10), (11) RETURNING n", "--format", "json",
              "--limit", "1")
    assert json.loads(p.stdout) == [{"n": 10}] and messages(p)[-1] == "⚠️ Showing 1 of 2 rows"
    out = query("INSERT INTO kept VALUES (12), (13), (14) RETURNING n", limit=2)
    assert table_rows(out) == [["12"], ["13"]] and out.splitlines()[-1] == "⚠️ Showing 2 of 3 rows"
    assert kept(db) == "7,8,9,10,11,12,13,14"
    db.psql("TRUNCATE kept", database=DB)


def test_statements_without_rows_keep_the_execute_message(db, query, talvo):
    assert query("CREATE TABLE made_here (x int)").splitlines()[-1] == \
        "✅ Query executed successfully"
    out = query("INSERT INTO made_here VALUES (1); INSERT INTO made_here VALUES (2); "
                "SELECT * FROM made_here")
    assert out.splitlines()[-1] == "✅ Query executed successfully" and not table_rows(out)
    assert db.psql("SELECT count(*) FROM made_here", database=DB) == "2"
    p = talvo("--format", "json", "query", "-q", "DROP TABLE made_here")
    assert (p.returncode, p.stdout, messages(p)[-1]) == (0, "", "✅ Query executed successfully")


def test_rows_not_shown_are_counted_on_the_server_and_run_once(db, query):
    out = query("SELECT nextval('counter') AS v FROM many")
    assert len(table_rows(out)) == 100
    assert out.splitlines()[-1] == "⚠️ Showing 100 of 150 rows"
    # The rows left out ran too, exactly once.
    assert db.psql("SELECT last_value FROM counter", database=DB) == "150"
    # An error after the rows shown: no table, and nothing left behind.
    out = query("SELECT keep(n), 1 / (120 - n) FROM many")
    assert out.splitlines()[-1] == "❌ Query error: division by zero" and not table_rows(out)
    assert kept(db) == ""


@pytest.mark.parametrize("limit", [None, "1000", "-1"])
def test_csv_is_what_the_server_copies(db, talvo, limit):
    argv = ["query", "-q", TYPED, "--format", "csv"] + (["--limit", limit] if limit else [])
    p = talvo(*argv)
    assert p.returncode == 0, p.stderr
    expected = list(csv.reader(io.StringIO(server_copy(db, TYPED))))
    if limit == "-1":
        expected = expected[:-1]
    assert list(csv.reader(io.StringIO(p.stdout))) == expected
    # One line end throughout: LF (the data holds no CR).
    assert "\r" not in p.stdout


@pytest.mark.parametrize("limit", [None, "1000"])
def test_json_keeps_the_types(talvo, limit):
    p = talvo("query", "-q", TYPED, "--format", "json", *(["--limit", limit] if limit else []))
    assert p.returncode == 0, p.stderr
    rows = json.loads(p.stdout, parse_float=Decimal)
    assert rows == TYPED_JSON
    # Types, not just values: 1 is no True, and numbers are no strings.
    assert [type(r["ok"]) for r in rows] == [type(None), bool, bool, type(None), bool]
    assert type(rows[1]["big"]) is int and type(rows[1]["amount"]) is Decimal
    # UTF-8, escaped only where JSON requires it.
    assert "Müller 東京 🐘 \\\\" in p.stdout and '"say \\"hi\\", then\\nleave"' in p.stdout


def test_standard_output_holds_only_the_data(db, talvo):
    # -d also switches debug on: the log and the start-up line go to stderr too.
    p = talvo("--format", "json", "query", "-d", DB, "-q", "SELECT n FROM many ORDER BY n",
              "--limit", "3")
    assert json.loads(p.stdout) == [{"n": 1}, {"n": 2}, {"n": 3}]
    err = p.stderr
    assert "🐞 Debug mode enabled" in err and "🔍 Using host=" in err
    assert messages(p)[-1] == "⚠️ Showing 3 of 150 rows"

    p = talvo("query", "-q", "SELECT n FROM many WHERE n < 0", "--format", "csv")
    assert (p.returncode, p.stdout) == (0, "n\n")
    assert messages(p)[-1] == "✅ Query executed. No rows returned."
    p = talvo("query", "-q", "SELECT n FROM many WHERE n < 0", "--format", "json")
    assert (p.stdout, messages(p)[-1]) == ("[]\n", "✅ Query executed. No rows returned.")


@pytest.mark.parametrize("argv, status, last_message", [
    (["query", "-q", "SELECT 1/0", "--format", "csv"], 1, "❌ Query error: division by zero"),
    (["query", "-q", "SELECT * FROM typed", "--format", "json", "--readonly", "--limit", "1"],
     0, "⚠️ Showing 1 of 5 rows"),
    (["query", "-q", "DELETE FROM typed", "--format", "json", "--readonly"], 1,
     "❌ Destructive queries not allowed in read-only mode"),
    (["describe", "-t", "missing", "--format", "csv"], 1, "❌ Table 'missing' not found"),
    (["show", "indexes", "--format", "json"], 0, "📭 No indexes found"),
])
def test_exit_statuses_and_messages(talvo, argv, status, last_message):
    p = talvo(*argv)
    assert (p.returncode, messages(p)[-1]) == (status, last_message)
    if status:
        assert p.stdout == ""
    else:
        assert json.loads(p.stdout) is not None


def test_format_given_twice_and_badly(talvo):
    p = talvo("--format", "json", "query", "-q", "SELECT 1 AS one", "--format", "csv")
    assert p.stdout == "one\n1\n"
    p = talvo("--format", "csv", "show", "tables")
    assert p.stdout.splitlines()[0] == "schema,table,size,columns"
    p = talvo("query", "-q", "SELECT 1", "--format", "xml")
    assert p.returncode == 2 and "invalid choice: 'xml'" in p.stderr


def test_reports_as_data(db, talvo):
    p = talvo("show", "users", "--format", "csv")
    assert "postgres,t,t,t,t,t" in p.stdout.splitlines()
    p = talvo("show", "size", "--format", "json")
    rows = json.loads(p.stdout)
    assert {r["table"] for r in rows} == {"many", "kept", "typed"}
    assert p.stderr.endswith(" GB\n") and "📊 Total Size: " in p.stderr
    p = talvo("show", "connections", "--format", "json")
    mine = [c for c in json.loads(p.stdout) if c["state"] == "active"]
    assert mine and mine[0]["query_start"][10] == "T"
