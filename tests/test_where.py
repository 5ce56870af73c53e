"""Where a command connects: every line after connecting names what was
reached, a database name counts only when something wrote it, and
`talvo --where` tells each value's source without connecting."""
import json
import shutil
import subprocess

import pytest

from admin_support import closed_port
from conftest import write_env_file

SHOP, OTHER = "where_shop", "where_other"
REQUIRED = "❌ Database name required. Use -d/--database"


@pytest.fixture(scope="module")
def databases(pg):
    for name in (SHOP, OTHER):
        pg.psql(f"DROP DATABASE IF EXISTS {name}")
        pg.psql(f"CREATE DATABASE {name}")
    pg.psql("CREATE TABLE orders (id int)", database=SHOP)
    yield
    for name in (SHOP, OTHER):
        pg.psql(f"DROP DATABASE IF EXISTS {name}")


def project(tmp_path, pg, **env_file):
    root = tmp_path / "shop"
    (root / "app").mkdir(parents=True)
    write_env_file(root, pg, **env_file)
    return root


def long_style_env_without_database(tmp_path, pg, port=None):
    root = tmp_path / "nodb"
    root.mkdir()
    (root / ".env").write_text(f"POSTGRES_HOST={pg.host}\nPOSTGRES_PORT={port or pg.port}\n"
                               f"POSTGRES_USER={pg.user}\nPOSTGRES_PASSWORD={pg.password}\n")
    return root


def test_lines_after_connecting_name_the_database_reached(pg, databases, tmp_path, run_talvo):
    root = project(tmp_path, pg, database=SHOP)
    r = run_talvo("show", "tables", cwd=root, env={"DATABASE": OTHER})
    assert r.returncode == 0, r.stderr
    after = r.stdout[r.stdout.index("🔍 Using"):]
    assert f"db={OTHER}" in after and f"📭 No tables found in '{OTHER}'" in after
    assert SHOP not in after


def test_a_project_that_names_no_database_ends_as_described(pg, databases, tmp_path, run_talvo):
    root = long_style_env_without_database(tmp_path, pg)
    tables = run_talvo("show", "tables", cwd=root)
    assert tables.returncode == 1
    lines = tables.stdout.splitlines()
    assert lines.count("📄 Found settings at: " + str(root / ".env")) == 1
    assert REQUIRED in lines and lines[-1].startswith("💡 ")

    sizes = run_talvo("show", "size", cwd=root)
    assert sizes.returncode == 0 and "Database Sizes" in sizes.stdout and SHOP in sizes.stdout

    drop = run_talvo("drop", "database", cwd=root, input=f"{SHOP}\n")
    assert drop.returncode == 1 and REQUIRED in drop.stdout
    assert "DROP" not in drop.stdout
    assert pg.psql(f"SELECT 1 FROM pg_database WHERE datname = '{SHOP}'").strip() == "1"


def where_lines(result):
    return {line.split()[0]: line.split(None, 1)[1] for line in result.stdout.splitlines()}


def test_where_shows_the_file_and_key_of_each_value(pg, tmp_path, run_talvo):
    root = project(tmp_path, pg, database=SHOP)
    r = run_talvo("--where", "show", "tables", cwd=root)
    assert r.returncode == 0, r.stderr
    env_file = str(root / ".env")
    got = where_lines(r)
    assert got["host"].split() == [pg.host, "file", f"{env_file},", "key", "POSTGRES_HOST,", "line", "1"]
    assert got["port"].split()[0] == str(pg.port) and "key POSTGRES_PORT" in got["port"]
    assert got["database"].startswith(SHOP) and "key POSTGRES_DB" in got["database"]
    assert got["password"].split()[0] == "set" and "key POSTGRES_PASSWORD" in got["password"]
    assert pg.password not in r.stdout + r.stderr
    assert "🔍" not in r.stdout + r.stderr


def test_where_names_variables_and_options(tmp_path, run_talvo):
    url = "postgresql://app:pw@db.example:6543/sales"
    r = run_talvo("--where", "-U", "admin", "-H", "10.1.2.3", "show", "tables",
                  cwd=tmp_path, env={"DATABASE_URL": url})
    assert r.returncode == 0, r.stderr
    got = where_lines(r)
    assert got["host"].split() == ["10.1.2.3", "option", "-H/--hostname"]
    assert got["user"].split() == ["admin", "option", "-U/--user"]
    assert got["database"].split() == ["sales", "environment", "DATABASE_URL"]
    assert got["port"].split() == ["6543", "environment", "DATABASE_URL"]


def test_where_connects_to_nothing_and_asks_nothing(pg, tmp_path, run_talvo):
    root = long_style_env_without_database(tmp_path, pg, port=closed_port())
    for argv in (["show", "dbs"], ["drop", "user", "-u", "someone"], ["query", "-q", "select 1", "-d", "x"]):
        r = run_talvo("--where", *argv, cwd=root, input="", timeout=10)
        assert r.returncode == 0, (argv, r.stdout, r.stderr)
        assert "password" in r.stdout and "Password" not in r.stdout + r.stderr
    missing = run_talvo("--where", "show", "tables", cwd=root)
    assert missing.returncode == 1 and REQUIRED in missing.stdout + missing.stderr


def test_where_as_json_for_scripts(pg, tmp_path, run_talvo):
    root = project(tmp_path, pg, database=SHOP)
    r = run_talvo("--where", "--format", "json", "show", "tables", cwd=root)
    assert r.returncode == 0, r.stderr
    target = json.loads(r.stdout)
    assert list(target) == ["host", "port", "user", "database", "password", "sslmode"]
    assert target["port"]["value"] == pg.port and target["password"] == {
        "set": True, "source": f"file {root / '.env'}, key POSTGRES_PASSWORD, line 4"}
    if shutil.which("jq"):
        jq = subprocess.run(["jq", "-r", ".database.value"], input=r.stdout,
                            capture_output=True, text=True, check=True)
        assert jq.stdout.strip() == SHOP


def test_reading_a_django_project_writes_nothing_into_it(pg, databases, tmp_path, run_talvo):
    root = tmp_path / "site"
    (root / "site").mkdir(parents=True)
    (root / "site" / "helpers.py").write_text(f"PORT = {pg.port}\n")
    (root / "site" / "settings.py").write_text(
        "import sys, os\nsys.path.insert(0, os.path.dirname(__file__))\nfrom helpers import PORT\n"
        "DATABASES = {'default': {'ENGINE': 'django.db.backends.postgresql', "
        f"'NAME': '{SHOP}', 'USER': '{pg.user}', 'PASSWORD': '{pg.password}', "
        f"'HOST': '{pg.host}', 'PORT': PORT}}}}\n")
    r = run_talvo("show", "tables", cwd=root)
    assert r.returncode == 0 and "orders" in r.stdout, r.stdout + r.stderr
    assert not list(root.rglob("__pycache__")) and not list(root.rglob("*.pyc"))
