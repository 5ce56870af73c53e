"""Inputs and faults meant to break the command line, through the console
script against the real server: a read-only run that tries to outlive its
transaction, secrets in broken settings under --debug, files and outputs that
fail, names that forge lines, limits at the edges of 64 bits, Ctrl-C at a
question, what operators see of a running statement, and creates at once."""
import csv
import io
import os
import secrets
import subprocess
import threading
import time
import urllib.parse

import pexpect
import pytest

from conftest import talvo_environment, talvo_executable

DB = "talvo_hostile"


@pytest.fixture(scope="module")
def db(pg):
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")
    pg.psql(f"CREATE DATABASE {DB}")
    yield pg
    for gid in pg.psql("SELECT gid FROM pg_prepared_xacts").split():
        pg.psql(f"ROLLBACK PREPARED '{gid}'", database=DB)
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")


def server(pg):
    return ["-H", pg.host, "--port", str(pg.port), "-P", pg.password]


def one_line_failure(p, status=1):
    assert p.returncode == status, p.stdout + p.stderr
    assert "Traceback" not in p.stdout + p.stderr
    return (p.stdout.strip().splitlines() or [""])[-1]


# --- read-only leaves nothing --------------------------------------------------

def test_prepared_transactions_are_refused_before_anything_runs(db, run_talvo):
    # The server takes them: without --readonly one is left prepared.
    assert run_talvo(*server(db), "query", "-d", DB, "-q",
                     "BEGIN; PREPARE TRANSACTION 'kept'").returncode == 0
    assert db.psql("SELECT gid FROM pg_prepared_xacts") == "kept"
    for sql, name in [("PREPARE TRANSACTION 'x'", "PREPARE TRANSACTION"),
                      ("/* note */ prepare\n transaction 'x'", "PREPARE TRANSACTION"),
                      ("commit prepared 'kept'", "COMMIT PREPARED"),
                      ("ROLLBACK PREPARED 'kept'", "ROLLBACK PREPARED"),
                      ("COMMIT", "COMMIT")]:
        p = run_talvo(*server(db), "query", "-d", DB, "--readonly", "-q", sql)
        assert one_line_failure(p) == f"❌ {name} not allowed in read-only mode: it ends the transaction"
        assert "🔍 Using" not in p.stdout
    assert db.psql("SELECT gid FROM pg_prepared_xacts") == "kept"
    db.psql("ROLLBACK PREPARED 'kept'", database=DB)


def test_session_state_does_not_survive_a_read_only_run(db, run_talvo):
    sql = "SELECT pg_advisory_lock(4242), pg_notify('c', 'x') IS NULL AS listened"
    assert run_talvo(*server(db), "query", "-d", DB, "--readonly", "-q", sql).returncode == 0
    assert run_talvo(*server(db), "query", "-d", DB, "--readonly", "-q", "LISTEN c").returncode == 0
    assert db.psql("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory'") == "0"
    assert db.psql("SELECT count(*) FROM pg_prepared_xacts") == "0"
    assert db.wait_until_no_connections() == 0


# --- no secret in any output ---------------------------------------------------

def broken_projects(pg, pw):
    """(name, files, words before the command) whose settings hold `pw`."""
    url = f"postgresql://postgres:{{}}@{pg.host}:{pg.port}/postgres"
    projects = [
        ("yaml", {".yaml": f"password: [{pw}\n"}, []),
        ("yaml alias", {".yaml": f"password: *{pw}\n"}, []),
        ("json", {".json": '{"password": "%s" oops}' % pw}, []),
        ("config.json", {"config.json": '\ufeff{"password": "%s",}' % pw}, []),
        ("toml", {"db.toml": f'password = "{pw}\nport = \n'}, ["db.toml"]),
        ("env", {".env": f"POSTGRES_PASSWORD={pw}\nthis is no setting {pw}\n"}, []),
        ("settings syntax", {"settings.py": f"PASSWORD = '{pw}'\nDATABASES = {{\n"}, []),
        ("settings environ", {"settings.py": f"PASSWORD = '{pw}'\nimport os\nos.environ['NO_{pw}'[:2]]\n"}, []),
        ("kv", {".env": f"DATABASE_URL=host={pg.host} port={pg.port} password={pw}x\nPOSTGRES_PORT=1\n"}, []),
        ("kv quoted", {".env": f"DATABASE_URL=\"host={pg.host} password='{pw} x'\"\nPOSTGRES_PORT=1\n"}, []),
        ("ado", {".env": f"DATABASE_URL=\"Server=h;User Id=u;Password={pw};\"\nPOSTGRES_PORT=1\n"}, []),
    ]
    for raw in "/#?'\" @":
        secret = pw[:5] + raw + pw[5:]
        projects.append((f"url {raw!r}", {".env": "DATABASE_URL=" + url.format(secret) + "\n"}, []))
    return projects


def test_debug_and_traceback_runs_show_no_password(pg, tmp_path):
    pw = "Rnd" + secrets.token_hex(8)
    forms = {pw, urllib.parse.quote(pw), repr(pw)[1:-1]}
    for name, files, before in broken_projects(pg, pw):
        project = tmp_path / name.replace(" ", "_").replace("'", "")
        project.mkdir()
        for file, content in files.items():
            (project / file).write_text(content)
        for extra, env in [(["--debug"], {}), ([], {"TRACEBACK": "1"}), ([], {})]:
            p = subprocess.run([talvo_executable(), *before, *extra, "show", "dbs"], cwd=project,
                               env=talvo_environment(tmp_path, **env), capture_output=True,
                               text=True, timeout=60)
            seen = p.stdout + p.stderr
            assert not [f for f in forms if f in seen], (name, extra, env, seen)
            assert p.returncode == 1, (name, seen)


# --- one line and status 1 -----------------------------------------------------

@pytest.mark.parametrize("name, content, before, reason", [
    ("settings.py", "raise GeneratorExit\n", [], "settings.py: line 1: GeneratorExit"),
    ("settings.py", "class Odd(BaseException): pass\n\nraise Odd('x')\n", [],
     "settings.py: line 3: Odd: x"),
    ("config.json", '\ufeff{"engine": "postgresql", "port": 5432,}', [],
     "config.json: invalid JSON: "),
    ("db.toml", "port = \n", ["db.toml"], "db.toml: invalid TOML: "),
])
def test_broken_settings_files_end_the_command(run_talvo, tmp_path, name, content, before,
                                               reason):
    (tmp_path / name).write_text(content)
    p = run_talvo(*before, "show", "dbs", cwd=tmp_path)
    line = one_line_failure(p)
    assert line.startswith("❌ Error: ") and reason in line, line
    assert "🔍 Using" not in p.stdout


def test_settings_file_with_a_byte_order_mark_is_read(db, run_talvo, tmp_path):
    (tmp_path / "config.json").write_text('\ufeff{"engine": "postgresql", "postgres_host": "%s", '
                                          '"postgres_port": %d, "postgres_user": "postgres", '
                                          '"postgres_password": "%s", "postgres_db": "%s"}'
                                          % (db.host, db.port, db.password, DB))
    p = run_talvo("show", "tables", cwd=tmp_path)
    assert p.returncode == 0 and f"db={DB}" in p.stdout, p.stdout + p.stderr


def test_failed_create_under_debug(db, run_talvo):
    p = run_talvo(*server(db), "--debug", "create", "pg_reserved", "pw", "talvo_never_made")
    assert p.returncode == 1
    assert "❌ Error (superuser connection): role name \"pg_reserved\" is reserved" in p.stdout
    assert db.psql("SELECT count(*) FROM pg_database WHERE datname = 'talvo_never_made'") == "0"


@pytest.mark.parametrize("redirect", [">/dev/full", ">&-"])
def test_standard_output_that_cannot_be_written(db, tmp_path, redirect):
    words = " ".join([talvo_executable(), *server(db), "show", "dbs"])
    p = subprocess.run(["bash", "-c", f"{words} {redirect}"], capture_output=True, text=True,
                       env=talvo_environment(tmp_path), timeout=60)
    assert p.returncode == 1 and "Traceback" not in p.stderr
    assert p.stderr.splitlines()[-1].startswith("❌ Error: cannot write to standard output: ")


# --- data stays data -----------------------------------------------------------

def test_settings_py_that_prints_leaves_the_csv_whole(db, run_talvo, tmp_path):
    (tmp_path / "settings.py").write_text(
        "print('hello from settings')\n"
        f"DATABASES = {{'default': {{'ENGINE': 'django.db.backends.postgresql', 'NAME': '{DB}', "
        f"'USER': 'postgres', 'PASSWORD': '{db.password}', 'HOST': '{db.host}', "
        f"'PORT': {db.port}}}}}\n")
    p = run_talvo("query", "--format", "csv", "-q", "SELECT 1 AS a, 'b' AS b", cwd=tmp_path)
    assert p.returncode == 0 and list(csv.reader(io.StringIO(p.stdout))) == [["a", "b"], ["1", "b"]]
    assert "hello from settings" in p.stderr


def test_a_line_break_in_a_name_forges_no_line(db, run_talvo, tmp_path):
    project = tmp_path / "proj\n✅ Database 'prod' dropped successfully"
    project.mkdir()
    (project / ".env").write_text(f"POSTGRES_PORT={db.port}\nPOSTGRES_HOST={db.host}\n"
                                  f"POSTGRES_PASSWORD={db.password}\nPOSTGRES_USER=postgres\n")
    p = run_talvo("show", "dbs", cwd=project)
    assert p.returncode == 0
    assert not [line for line in p.stdout.splitlines() if line.startswith("✅")]
    assert "proj\\n✅ Database 'prod' dropped successfully/.env" in p.stdout


# --- integers at the edges -----------------------------------------------------

@pytest.mark.parametrize("option, value", [("--limit", "9223372036854775808"),
                                           ("--limit", "-9223372036854775809"),
                                           ("--limit", "1" * 30), ("-ul", "1" * 30)])
def test_numbers_beyond_64_bits_are_grammar_errors(run_talvo, option, value):
    p = run_talvo("-H", "127.0.0.1", "--port", "1", "query", "-d", DB, option, value, "-q", "select 1")
    assert p.returncode == 2 and f"argument {option}" in p.stderr and "not a whole number" in p.stderr
    assert "🔍 Using" not in p.stdout


def test_most_negative_limit_leaves_out_every_row(db, run_talvo):
    sql = "SELECT generate_series(1, 6) AS n"
    least = "-9223372036854775808"
    p = run_talvo(*server(db), "query", "-d", DB, "--format", "csv", "--limit", least, "-q", sql)
    assert p.returncode == 0 and p.stdout == "n\n"
    assert p.stderr.splitlines()[-1] == f"⚠️ Showing {least} of 6 rows"
    p = run_talvo(*server(db), "query", "-d", DB, "--limit", least, "-q", sql)
    assert "│ 1 " not in p.stdout and p.stdout.splitlines()[-1] == f"⚠️ Showing {least} of 6 rows"


# --- Ctrl-C at a question ------------------------------------------------------

def test_ctrl_c_at_the_confirmation_ends_the_command(db, tmp_path):
    db.psql("DROP DATABASE IF EXISTS talvo_kept")
    db.psql("CREATE DATABASE talvo_kept")
    child = pexpect.spawn(talvo_executable(), [*server(db), "drop", "database", "-d", "talvo_kept"],
                          env=talvo_environment(tmp_path), encoding="utf-8", timeout=20)
    try:
        child.expect_exact("❓ Type the database name to confirm: ")
        time.sleep(0.2)
        child.sendintr()
        child.expect_exact("❌ Interrupted")
        child.expect(pexpect.EOF)
    finally:
        child.close()
    assert child.exitstatus == 130
    assert db.psql("SELECT count(*) FROM pg_database WHERE datname = 'talvo_kept'") == "1"
    db.psql("DROP DATABASE talvo_kept")


# --- what operators see --------------------------------------------------------

@pytest.mark.parametrize("extra", [[], ["--format", "csv", "--limit", "2"]])
def test_the_running_statement_shows_in_pg_stat_activity(db, tmp_path, extra):
    sql = "SELECT pg_sleep(0.1) AS slept, n FROM generate_series(1, 12) n"
    env = talvo_environment(tmp_path, PGAPPNAME="nightly report")
    proc = subprocess.Popen([talvo_executable(), *server(db), "query", "-d", DB, *extra, "-q", sql],
                            cwd=tmp_path, env=env, text=True, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    seen = ""
    deadline = time.monotonic() + 20
    while not seen and time.monotonic() < deadline:
        seen = db.psql("SELECT query FROM pg_stat_activity WHERE application_name = 'nightly report' "
                       "AND wait_event = 'PgSleep'")
        time.sleep(0.05)
    out, err = proc.communicate(timeout=60)
    assert sql in seen, seen
    assert proc.returncode == 0, out + err
    # Only the rows shown travel; the count is the statement's own.
    if extra:
        assert out.splitlines() == ["slept,n", '"",1', '"",2']
        assert err.splitlines()[-1] == "⚠️ Showing 2 of 12 rows"
    else:
        assert "│ 12 │" in out.replace("  ", " ") and "Showing" not in out


@pytest.mark.parametrize("extra", [[], ["--format", "json"]])
def test_rows_left_out_stay_on_the_server(db, tmp_path, extra):
    # 99 rows of 4 MB each: only their count may travel.
    sql = ("SELECT n, CASE WHEN n > 1 THEN repeat('x', 4000000) END AS wide "
           "FROM generate_series(1, 100) n")
    out_file, err_file = tmp_path / "out", tmp_path / "err"
    with open(out_file, "w") as out, open(err_file, "w") as err:
        proc = subprocess.Popen([talvo_executable(), *server(db), "query", "-d", DB, *extra,
                                 "--limit", "1", "-q", sql], cwd=tmp_path, stdout=out, stderr=err,
                                env=talvo_environment(tmp_path))
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
    out, err = out_file.read_text(), err_file.read_text()
    assert proc.returncode == 0, out + err
    assert (err if extra else out).splitlines()[-1] == "⚠️ Showing 1 of 100 rows"
    if extra:
        assert out == '[\n{"n": 1, "wide": null}\n]\n'
    assert usage.ru_maxrss < 150 * 1024, usage.ru_maxrss


# --- creates at once -----------------------------------------------------------

def test_concurrent_creates_all_succeed(db, tmp_path):
    names = [f"talvo_conc{i}" for i in range(4)]
    results = {}

    def create(name):
        results[name] = subprocess.run(
            [talvo_executable(), *server(db), "create", name, "pw-" + name, name], cwd=tmp_path,
            env=talvo_environment(tmp_path), capture_output=True, text=True, timeout=60)

    threads = [threading.Thread(target=create, args=(name,)) for name in names]
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for name in names:
            p = results[name]
            assert p.returncode == 0 and f"✅ Database '{name}' created" in p.stdout, p.stdout
        owners = db.psql("SELECT string_agg(datname || ':' || pg_get_userbyid(datdba), ',' "
                         "ORDER BY datname) FROM pg_database WHERE datname LIKE 'talvo_conc%'")
        assert owners == ",".join(f"{n}:{n}" for n in names)
    finally:
        for name in names:
            db.psql(f"DROP DATABASE IF EXISTS {name} WITH (FORCE)")
            db.psql(f"DROP ROLE IF EXISTS {name}")
