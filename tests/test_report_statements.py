"""The reports' statements give the rows, in the order, of the plain
statements they replace (pg_tables, with each table's size and column count
looked up by its quoted name), on a catalogue with views, partitions,
several schemas, toast tables, names with capitals and blanks, a role that
may see only some columns, and another session's temporary table."""

import csv
import io

import pytest

import talvo.talvo as t
from inprocess import command_args, run, stand_ins  # noqa: F401

DB = "talvo_catalogue"
PEEK, PEEK_PASSWORD = "talvo_peek", "peek-pw"

CATALOGUE = """
CREATE SCHEMA "Sales";
CREATE SCHEMA audit;
CREATE TABLE orders (id serial PRIMARY KEY, note text);
INSERT INTO orders (note)
    SELECT (SELECT string_agg(md5(g::text || i::text), '') FROM generate_series(1, 200) i)
    FROM generate_series(1, 40) g;
CREATE TABLE "Sales"."OrderLines" (id int, qty int, "Note" text);
CREATE INDEX "OrderLines_qty" ON "Sales"."OrderLines" (qty);
INSERT INTO "Sales"."OrderLines" SELECT g, g FROM generate_series(1, 1000) g;
CREATE TABLE audit.log (id int, secret text, gone int, at timestamptz);
ALTER TABLE audit.log DROP COLUMN gone;
CREATE TABLE events (id int, at date) PARTITION BY RANGE (at);
CREATE TABLE events_2024 PARTITION OF events FOR VALUES FROM ('2024-01-01') TO ('2025-01-01');
CREATE TABLE "Sales".events_2025 PARTITION OF events FOR VALUES FROM ('2025-01-01') TO ('2026-01-01');
INSERT INTO events VALUES (1, '2024-05-01'), (2, '2025-05-01');
CREATE VIEW order_view AS SELECT id FROM orders;
CREATE MATERIALIZED VIEW order_totals AS SELECT count(*) FROM orders;
CREATE TABLE "Mixed Case" (x int);
GRANT USAGE ON SCHEMA audit, "Sales" TO talvo_peek;
GRANT SELECT (id, at) ON audit.log TO talvo_peek;
"""

# The plain statements, names quoted so that every table can be sized.
REFERENCE_TABLES = """
    SELECT schemaname AS schema, tablename AS table,
           pg_size_pretty(pg_total_relation_size(quote_ident(schemaname)||'.'||quote_ident(tablename))) AS size,
           (SELECT COUNT(*) FROM information_schema.columns
             WHERE table_schema = schemaname AND table_name = tablename) AS columns
    FROM pg_tables WHERE schemaname NOT IN ('pg_catalog', 'information_schema')
    ORDER BY schemaname, tablename"""
REFERENCE_TABLE_SIZES = """
    SELECT schemaname AS schema, tablename AS table,
           pg_size_pretty(pg_total_relation_size(quote_ident(schemaname)||'.'||quote_ident(tablename))) AS total_size,
           pg_total_relation_size(quote_ident(schemaname)||'.'||quote_ident(tablename)) AS size_bytes
    FROM pg_tables WHERE schemaname NOT IN ('pg_catalog', 'information_schema')
    ORDER BY pg_total_relation_size(quote_ident(schemaname)||'.'||quote_ident(tablename)) DESC"""
REFERENCE_DATABASE_SIZES = """
    SELECT datname AS database, pg_size_pretty(pg_database_size(datname)) AS size,
           pg_database_size(datname) AS size_bytes
    FROM pg_database WHERE datistemplate = false ORDER BY pg_database_size(datname) DESC"""
REFERENCE_DATABASES = """
    SELECT datname AS database, pg_size_pretty(pg_database_size(datname)) AS size,
           pg_encoding_to_char(encoding) AS encoding, datcollate AS collation
    FROM pg_database WHERE datistemplate = false ORDER BY datname"""


@pytest.fixture(scope="module")
def catalogue(pg):
    pg.psql(f"DROP DATABASE IF EXISTS {DB}")
    pg.psql(f"DROP ROLE IF EXISTS {PEEK}")
    pg.psql(f"CREATE ROLE {PEEK} LOGIN PASSWORD '{PEEK_PASSWORD}'")
    pg.psql(f"CREATE DATABASE {DB}")
    pg.psql(CATALOGUE, database=DB)
    yield pg
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")
    pg.psql(f"DROP ROLE IF EXISTS {PEEK}")


def text(value):
    """A value as the server writes it in CSV (the types these reports have)."""
    if isinstance(value, bool):
        return "t" if value else "f"
    return str(value)


def both(pg, words, reference, user, password, temporary=True, **values):
    """The report's rows as its CSV gives them, and the reference
    statement's rows (None when it fails), both read while another session
    holds a temporary table (unless `temporary` is false)."""
    import asyncpg

    async def read():
        other = await asyncpg.connect(host=pg.host, port=pg.port, user=pg.user,
                                      password=pg.password, database=DB)
        reader = await asyncpg.connect(host=pg.host, port=pg.port, user=user, password=password,
                                       database=values.get("database") or "postgres")
        try:
            if temporary:
                await other.execute("CREATE TEMP TABLE scratch (a int, b text)")
            handler = {("show", "tables"): t.show_tables, ("show", "size"): t.show_size,
                       ("show", "dbs"): t.show_databases}[words]
            await handler(command_args(pg, *words, user=user, passwd=password, format="csv",
                                       **values))
            try:
                return [[text(v) for v in r] for r in await reader.fetch(reference)]
            except asyncpg.InsufficientPrivilegeError:
                return None
        finally:
            await reader.close()
            # Dropped here, not at the session's end, which comes a little later.
            await other.execute("DROP TABLE IF EXISTS scratch")
            await other.close()

    return read


def test_show_tables(catalogue, stand_ins, capsys):
    expected = run(both(catalogue, ("show", "tables"), REFERENCE_TABLES, "postgres",
                        catalogue.password, database=DB)())
    shown = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    assert shown[0] == ["schema", "table", "size", "columns"]
    assert shown[1:] == expected
    tables = {(r[0], r[1]) for r in expected}
    assert {("Sales", "OrderLines"), ("public", "Mixed Case"), ("public", "events"),
            ("Sales", "events_2025")} <= tables
    counts = {r[1]: r[3] for r in expected}
    assert counts["log"] == "3" and counts["scratch"] == "0"  # another session's: none to see


def test_show_tables_as_a_role_that_sees_some_columns(catalogue, stand_ins, capsys):
    # The plain statement looks every table up by name, which a role may
    # not do in another session's temporary schema: it fails as a whole.
    assert run(both(catalogue, ("show", "tables"), REFERENCE_TABLES, PEEK, PEEK_PASSWORD,
                    database=DB)()) is None
    shown = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    counts = {r[1]: r[3] for r in shown[1:]}
    assert counts["log"] == "2" and counts["orders"] == "0" and counts["scratch"] == "0"
    expected = run(both(catalogue, ("show", "tables"), REFERENCE_TABLES, PEEK, PEEK_PASSWORD,
                        temporary=False, database=DB)())
    assert list(csv.reader(io.StringIO(capsys.readouterr().out)))[1:] == expected


def by_size(rows, name_columns):
    return sorted(rows, key=lambda r: (-int(r[-1]), *[r[i] for i in name_columns]))


def test_show_size_of_tables(catalogue, stand_ins, capsys):
    expected = run(both(catalogue, ("show", "size"), REFERENCE_TABLE_SIZES, "postgres",
                        catalogue.password, database=DB)())
    shown = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    assert shown[0] == ["schema", "table", "total_size"]
    # Equal sizes come in name order; the plain statement leaves them unordered.
    assert shown[1:] == [r[:3] for r in by_size(expected, (0, 1))]
    assert shown[1][1] == "orders"  # its toast table counts: the largest


def test_show_size_of_databases_and_show_dbs(catalogue, stand_ins, capsys):
    expected = run(both(catalogue, ("show", "size"), REFERENCE_DATABASE_SIZES, "postgres",
                        catalogue.password)())
    shown = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    assert shown[1:] == [r[:2] for r in by_size(expected, (0,))]
    expected = run(both(catalogue, ("show", "dbs"), REFERENCE_DATABASES, "postgres",
                        catalogue.password)())
    shown = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    assert shown[1:] == expected
