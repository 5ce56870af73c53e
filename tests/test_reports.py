"""The listing, index and size reports and the table description, against a
real server, with the same facts read back through psql."""

import re

import pytest

import talvo.talvo as t
from inprocess import REQUIRED_WITH_HINT, command_args, headers, run, stand_ins, table_rows  # noqa: F401


DB = "talvo_reports"
EMPTY_DB = "talvo_reports_empty"

SCHEMA = """
CREATE TABLE orders (
    id serial PRIMARY KEY,
    customer varchar(50) NOT NULL,
    note text DEFAULT '[/]',
    placed date
);
CREATE INDEX orders_customer_idx ON orders (customer);
CREATE TABLE "OrderLines" (id int, qty int);
INSERT INTO "OrderLines" SELECT g, g FROM generate_series(1, 2000) g;
CREATE TABLE "[/]" (x int);
CREATE VIEW order_view AS SELECT id, customer FROM orders;
CREATE TABLE marks (
    a text DEFAULT '[/]',
    b text DEFAULT '[bold]x[/bold]',
    c text DEFAULT ':smile:',
    d text DEFAULT 'a[b]c'
);
"""


@pytest.fixture(scope="module")
def db(pg):
    for name in (DB, EMPTY_DB):
        pg.psql(f"DROP DATABASE IF EXISTS {name}")
        pg.psql(f"CREATE DATABASE {name}")
    pg.psql(SCHEMA, database=DB)
    pg.psql("DROP ROLE IF EXISTS pgadmin; CREATE ROLE pgadmin LOGIN")
    yield pg
    pg.psql("DROP ROLE IF EXISTS pgadmin")
    for name in (DB, EMPTY_DB):
        pg.psql(f"DROP DATABASE IF EXISTS {name} WITH (FORCE)")


@pytest.fixture
def report(db, stand_ins, clean_env, capsys):
    """report("show", "tables", database=...) runs a handler, gives its output."""
    handlers = {("show", "dbs"): t.show_databases, ("show", "tables"): t.show_tables,
                ("show", "users"): t.show_users, ("show", "connections"): t.show_connections,
                ("show", "indexes"): t.show_indexes, ("show", "size"): t.show_size,
                ("describe",): t.describe_table}

    def go(*words, **values):
        args = command_args(db, *words, **values)
        result = run(handlers[words](args))
        assert result is None
        return capsys.readouterr().out

    return go


def column(rows, i):
    return [row[i] for row in rows]


def test_reports_agree_with_psql(db, report):
    out = report("show", "dbs")
    assert "PostgreSQL Databases" in out
    assert headers(out) == ["Database", "Size", "Encoding", "Collation"]
    psql_dbs = db.psql("SELECT datname FROM pg_database WHERE NOT datistemplate "
                       "ORDER BY datname").splitlines()
    assert column(table_rows(out), 0) == psql_dbs

    out = report("show", "users")
    psql_roles = db.psql(r"SELECT rolname || '|' || rolsuper || '|' || rolcanlogin "
                         r"FROM pg_roles WHERE rolname !~ '^pg_' ORDER BY rolname").splitlines()
    shown = [f"{r[0]}|{r[1].lower()}|{r[4].lower()}" for r in table_rows(out)]
    # The name pattern's underscore matches any character, so pgadmin is left out too.
    assert shown == [r for r in psql_roles if not r.startswith("pgadmin|")]

    out = report("show", "tables", database=DB)
    psql_tables = db.psql(
        "SELECT n.nspname || '|' || c.relname || '|' || "
        "(SELECT count(*) FROM pg_attribute a WHERE a.attrelid = c.oid AND a.attnum > 0 "
        "AND NOT a.attisdropped) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind = 'r' AND n.nspname NOT IN ('pg_catalog', 'information_schema') "
        "ORDER BY 1", database=DB).splitlines()
    assert [f"{r[0]}|{r[1]}|{r[3]}" for r in table_rows(out)] == sorted(psql_tables)

    out = report("describe", database=DB, table="orders")
    psql_columns = db.psql("SELECT attname FROM pg_attribute WHERE attrelid = 'orders'::regclass "
                           "AND attnum > 0 AND NOT attisdropped ORDER BY attnum",
                           database=DB).splitlines()
    assert column(table_rows(out), 0) == psql_columns


def test_show_tables_lists_names_that_need_quoting(db, report):
    out = report("show", "tables", database=DB)
    assert "Tables in 'talvo_reports'" in out
    rows = {r[1]: r for r in table_rows(out)}
    size = db.psql("""SELECT pg_size_pretty(pg_total_relation_size('public."OrderLines"'))""",
                   database=DB)
    assert rows["OrderLines"] == ["public", "OrderLines", size, "2"]
    assert rows["orders"][3] == "4"
    assert rows["[/]"][3] == "1"  # a name that is rich markup is shown as it is
    assert "order_view" not in rows


def test_show_tables_empty_and_nameless(db, report):
    assert report("show", "tables", database=EMPTY_DB).splitlines()[-1] == \
        "📭 No tables found in 'talvo_reports_empty'"
    assert report("show", "tables").startswith(REQUIRED_WITH_HINT)
    assert db.wait_until_no_connections() == 0


def test_show_connections_without_client_address(db, stand_ins, clean_env, capsys):
    import asyncpg

    async def with_socket_connection():
        # Over the local socket: the server knows no client address.
        other = await asyncpg.connect(host=db.sockdir, port=db.port, user=db.user,
                                      password=db.password, database=DB)
        try:
            await t.show_connections(command_args(db, "show", "connections"))
        finally:
            await other.close()

    run(with_socket_connection())
    out = capsys.readouterr().out
    assert "Active Connections" in out
    assert headers(out) == ["Database", "User", "Client", "State", "Query Start", "State Change"]
    rows = table_rows(out)
    by_database = {r[0]: r for r in rows}
    assert by_database[DB][1:4] == ["postgres", "-", "idle"]
    # The report's own connection comes over TCP and is running the query.
    assert by_database["postgres"][2:4] == ["127.0.0.1", "active"]
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{6})?\+00:00",
                        by_database["postgres"][4])


def test_indexes_of_one_table_and_of_the_database(db, report):
    out = report("show", "indexes", database=DB, table="orders")
    assert "Indexes in table 'orders'" in out
    assert headers(out) == ["Index Name", "Definition"]
    rows = table_rows(out)
    assert column(rows, 0) == ["orders_customer_idx", "orders_pkey"]
    assert "btree (customer)" in rows[0][1]

    assert report("show", "indexes", database=DB, table="Orders").splitlines()[-1] == \
        "📭 No indexes found"
    assert report("show", "indexes", database=DB, table="pg_class").splitlines()[-1] == \
        "📭 No indexes found"

    out = report("show", "indexes", database=DB)
    assert "Indexes in database 'talvo_reports'" in out
    assert headers(out) == ["Schema", "Table", "Index Name", "Definition"]
    assert [r[:3] for r in table_rows(out)] == [
        ["public", "orders", "orders_customer_idx"], ["public", "orders", "orders_pkey"]]


def test_size_modes(db, report):
    out = report("show", "size", table="orders")  # no database: server-wide, table ignored
    assert "Database Sizes" in out and "Size of table" not in out
    assert re.search(r"\n\n📊 Total Size: \d+\.\d\d GB\n$", out)
    assert DB in column(table_rows(out), 0)

    out = report("show", "size", database=DB)
    assert "Table Sizes in 'talvo_reports'" in out
    rows = table_rows(out)
    assert rows[0][:2] == ["public", "OrderLines"]  # largest first
    assert {r[1] for r in rows} == {"OrderLines", "orders", "marks", "[/]"}
    assert out.endswith(" GB\n")

    out = report("show", "size", database=DB, table="public.orders")
    lines = out.splitlines()[-5:]
    assert lines[0] == ""
    assert lines[1] == "📊 Size of table 'public.orders':"
    assert re.fullmatch(r"   Total Size:   \d+ (bytes|kB)", lines[2])
    assert re.fullmatch(r"   Table Size:   \d+ (bytes|kB)", lines[3])
    assert re.fullmatch(r"   Indexes Size: \d+ (bytes|kB)", lines[4])

    out = report("show", "size", database=DB, table="missing_table")
    assert out.splitlines()[-1] == '❌ Error: relation "missing_table" does not exist'

    assert report("show", "size", database=EMPTY_DB).splitlines()[-1] == \
        "📭 No tables found in 'talvo_reports_empty'"
    assert db.wait_until_no_connections() == 0


def test_describe(db, report):
    out = report("describe", database=DB, table="orders")
    assert "Structure of 'orders'" in out
    assert headers(out) == ["Column", "Type", "Max Length", "Nullable", "Default"]
    assert table_rows(out) == [
        ["id", "integer", "-", "NO", "nextval('orders_id_seq'::regclass)"],
        ["customer", "character varying", "50", "NO", "-"],
        ["note", "text", "-", "YES", "'[/]'::text"],
        ["placed", "date", "-", "YES", "-"],
    ]
    out = report("describe", database=DB, table="order_view")
    assert column(table_rows(out), 0) == ["id", "customer"]

    out = report("describe", database=DB, table="marks")
    assert column(table_rows(out), 4) == [
        "'[/]'::text", "'[bold]x[/bold]'::text", "':smile:'::text", "'a[b]c'::text"]

    out = report("describe", database=DB, table="[/]")
    assert "Structure of '[/]'" in out and table_rows(out) == [["x", "integer", "-", "YES", "-"]]

    assert report("describe", database=DB, table="Orders").splitlines()[-1] == \
        "❌ Table 'Orders' not found"
    assert report("describe", database=DB, table="\x1b[2Jx\r\n").splitlines()[-1] == \
        "❌ Table '\\x1b[2Jx\\r\\n' not found"
    assert report("describe", database=DB, table="") == \
        "❌ Table name required. Use -t/--table\n"
    assert report("describe", table="").startswith(REQUIRED_WITH_HINT)
    assert db.wait_until_no_connections() == 0
