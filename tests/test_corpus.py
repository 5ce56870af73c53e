"""The corpus: projects of many frameworks and tools, laid out as their own
templates and documentation lay them out (tests/corpus/, described by
tests/corpus/manifest.toml). Each is copied, made a repository where it is
one, and `talvo show tables` runs with no options from a login shell, from
the project's root and from a directory one to three levels below it. It
must reach the database the project names, or, where the project names no
PostgreSQL database, end with "❌ Database name required" and the hint.

Many layouts name no port, so the server of these tests listens on 5432."""
import os
import shutil
import tomllib

import pytest

from inprocess import table_rows
from pgcluster import Cluster, port_is_free

CORPUS = os.path.join(os.path.dirname(__file__), "corpus")
TABLE = "corpus_check"

with open(os.path.join(CORPUS, "manifest.toml"), "rb") as f:
    LAYOUTS = tomllib.load(f)["layout"]


def reached(layout):
    return layout["expect"] != "none"


@pytest.fixture(scope="module")
def server():
    if not port_is_free(5432):
        pytest.skip("port 5432 is taken on this machine; these projects need it")
    cluster = Cluster(port=5432).start()
    roles, databases = {}, set()
    for layout in filter(reached, LAYOUTS):
        e = layout["expect"]
        assert roles.setdefault(e["user"], e["password"]) == e["password"], e["user"]
        databases.add((e["database"], e["user"]))
    for role, password in roles.items():
        literal = password.replace("'", "''")
        cluster.psql(f"CREATE ROLE \"{role}\" LOGIN PASSWORD '{literal}'")
    for database, owner in sorted(databases):
        if database != "postgres":
            cluster.psql(f'CREATE DATABASE "{database}" OWNER "{owner}"')
        cluster.psql(f"CREATE TABLE IF NOT EXISTS {TABLE} (id int)", database=database)
    yield cluster
    cluster.stop()


def cases():
    for layout in LAYOUTS:
        for start in ("root", "subdir"):
            marks = []
            if "xfail" in layout:
                marks.append(pytest.mark.xfail(reason=layout["xfail"], strict=True))
            yield pytest.param(layout, start, id=f"{layout['name']}-{start}", marks=marks)


def test_the_corpus_is_broad():
    named = [layout for layout in LAYOUTS if layout["named"]]
    assert len(LAYOUTS) >= 40
    assert len({layout["framework"] for layout in LAYOUTS}) >= 25
    assert len(named) * 2 <= len(LAYOUTS)
    for layout in LAYOUTS:
        depth = len(layout["subdir"].split("/"))
        assert 1 <= depth <= 3, layout["name"]


@pytest.mark.parametrize("layout, start", list(cases()))
def test_show_tables_finds_the_project_database(server, run_talvo, tmp_path, layout, start):
    project = tmp_path / layout["name"]
    shutil.copytree(os.path.join(CORPUS, layout["name"]), project)
    if layout.get("vcs", True):
        (project / ".git").mkdir()
    cwd = project if start == "root" else project / layout["subdir"]
    p = run_talvo("show", "tables", cwd=cwd)
    lines = p.stdout.splitlines()
    if not reached(layout):
        assert "❌ Database name required. Use -d/--database" in lines, p.stdout + p.stderr
        assert lines[-1].startswith("💡 Looked for "), p.stdout
        return
    e = layout["expect"]
    using = f"🔍 Using host={e['host']}, user={e['user']}, db={e['database']}, passwd={'*' * len(e['password'])}"
    assert using in lines, p.stdout + p.stderr
    assert p.returncode == 0, p.stdout + p.stderr
    assert [row[1] for row in table_rows(p.stdout)] == [TABLE]
