"""The read-only commands as whole processes, configured the ways an
operator configures them: options only, a .env file, a Django settings.py."""

import re

import pytest

from conftest import write_env_file
from inprocess import table_rows

DB = "talvo_commands"


@pytest.fixture(scope="module")
def db(pg):
    pg.psql(f"DROP DATABASE IF EXISTS {DB}")
    pg.psql(f"CREATE DATABASE {DB}")
    pg.psql('CREATE TABLE items (id serial PRIMARY KEY, label varchar(20)); '
            'CREATE TABLE "Mixed Case" (x int); '
            "INSERT INTO items (label) SELECT 'item ' || g FROM generate_series(1, 150) g",
            database=DB)
    yield pg
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")


def options(pg, password=None):
    return ["-H", pg.host, "--port", str(pg.port), "-U", pg.user, "-P", password or pg.password]


def test_show_dbs_with_options_and_no_file_anywhere(db, run_talvo, tmp_path):
    p = run_talvo(*options(db), "show", "dbs", cwd=tmp_path)
    assert p.returncode == 0, p.stderr
    assert "env file" not in p.stdout
    assert DB in [r[0] for r in table_rows(p.stdout)]


def test_wrong_password_ends_with_status_one(db, run_talvo, tmp_path):
    p = run_talvo(*options(db, password="wrong"), "show", "users", cwd=tmp_path)
    assert p.returncode == 1
    assert p.stdout.splitlines()[-1] == \
        '❌ Connection failed: password authentication failed for user "postgres"'


def test_env_project_runs_every_read_only_command(db, run_talvo, tmp_path):
    write_env_file(tmp_path, db, database=DB)
    p = run_talvo("show", "tables", cwd=tmp_path)
    assert p.returncode == 0, p.stderr
    assert {r[1] for r in table_rows(p.stdout)} == {"items", "Mixed Case"}

    p = run_talvo("describe", "-t", "items", cwd=tmp_path)
    assert [r[:3] for r in table_rows(p.stdout)] == [["id", "integer", "-"],
                                                     ["label", "character varying", "20"]]

    p = run_talvo("query", "-q", "SELECT id, label FROM items ORDER BY id", cwd=tmp_path)
    assert len(table_rows(p.stdout)) == 100
    assert p.stdout.splitlines()[-1] == "⚠️ Showing 100 of 150 rows"

    p = run_talvo("query", "--readonly", "-q", "SELECT nextval('items_id_seq')", cwd=tmp_path)
    # Run as pg_read_all_data, which may only read the sequence.
    assert p.stdout.splitlines()[-1] == \
        "❌ Query error: permission denied for sequence items_id_seq"

    p = run_talvo("show", "size", cwd=tmp_path)
    assert p.returncode == 0, p.stderr
    assert re.search(r"\n📊 Total Size: \d+\.\d\d GB\n$", p.stdout)

    p = run_talvo("show", "indexes", "-t", "items", cwd=tmp_path)
    assert [r[0] for r in table_rows(p.stdout)] == ["items_pkey"]
    assert db.wait_until_no_connections() == 0


def test_settings_py_only_project_lists_its_tables(db, run_talvo, tmp_path):
    (tmp_path / "settings.py").write_text(
        "DATABASES = {'default': {'ENGINE': 'django.db.backends.postgresql', "
        f"'NAME': {DB!r}, 'USER': {db.user!r}, 'PASSWORD': {db.password!r}, "
        f"'HOST': {db.host!r}, 'PORT': {str(db.port)!r}}}}}\n")
    p = run_talvo("show", "tables", cwd=tmp_path)
    assert p.returncode == 0, p.stdout + p.stderr
    assert "env file" not in p.stdout
    assert f"Tables in '{DB}'" in p.stdout
    assert {r[1] for r in table_rows(p.stdout)} == {"items", "Mixed Case"}
