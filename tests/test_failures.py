"""How commands end when something goes wrong, as a script sees them: one
error line, status 1 (130 and 143 for Ctrl-C and SIGTERM), no traceback,
no password on the screen, nothing left running on the server."""
import os
import signal
import socket
import subprocess
import sys
import time

import pytest

from conftest import talvo_environment, talvo_executable
from pgcluster import Cluster

DB = "talvo_failures"


@pytest.fixture(scope="module")
def db(pg):
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")
    pg.psql(f"CREATE DATABASE {DB}")
    pg.psql("CREATE TABLE t (id int)", database=DB)
    yield pg
    pg.psql(f"DROP DATABASE IF EXISTS {DB} WITH (FORCE)")


def server(pg):
    return ["-H", pg.host, "--port", str(pg.port), "-P", pg.password]


def ended_on(p, status, last_line):
    assert p.returncode == status, p.stdout + p.stderr
    # A question leaves the answer's line open: the error may follow it.
    assert last_line in p.stdout.splitlines()[-1], p.stdout
    assert "Traceback" not in p.stdout + p.stderr


@pytest.mark.parametrize("argv,answer,last_line", [
    (["query", "-d", DB, "-q", "select 1/0"], None, "❌ Query error: division by zero"),
    (["query", "-d", DB, "-q", "   "], None, "❌ Query required. Use -q/--query"),
    (["describe", "-d", DB, "-t", "missing"], None, "❌ Table 'missing' not found"),
    (["show", "tables"], None, "💡 Looked for"),
    (["drop", "database", "-d", DB], "not-the-name\n", "❌ Database name mismatch. Aborted."),
    (["drop", "database", "-d", DB], "", "❌ nothing typed; aborted"),
])
def test_error_lines_end_with_status_one(db, run_talvo, argv, answer, last_line):
    ended_on(run_talvo(*server(db), *argv, input=answer), 1, last_line)
    assert db.psql(f"SELECT count(*) FROM pg_database WHERE datname = '{DB}'") == "1"


def test_success_and_empty_results_end_with_status_zero(db, run_talvo):
    assert run_talvo(*server(db), "show", "dbs").returncode == 0
    p = run_talvo(*server(db), "show", "indexes", "-d", DB)
    assert p.returncode == 0 and p.stdout.splitlines()[-1] == "📭 No indexes found"
    for argv in (["--version"], ["--help"], ["--debug"]):
        assert run_talvo(*argv).returncode == 0, argv


def test_drop_whose_connection_fails(run_talvo):
    from pgcluster import free_port
    p = run_talvo("-H", "127.0.0.1", "--port", str(free_port()), "-P", "x",
                  "drop", "user", "-u", "nobody", input="nobody\n")
    ended_on(p, 1, "❌ Error dropping user [1]: ")


def test_create_that_fails_after_the_role_step(db, run_talvo):
    # The database exists and belongs to another role: recreating it fails.
    p = run_talvo(*server(db), "create", "talvo_fail_role", "pw", DB, input="y\n")
    try:
        ended_on(p, 1, "🔒 Logged out from new user session")
        assert "❌ Error: must be owner of database" in p.stdout
    finally:
        db.psql("DROP ROLE IF EXISTS talvo_fail_role")


def test_server_stopped_mid_query(run_talvo, tmp_path):
    cluster = Cluster().start()
    try:
        proc = subprocess.Popen([talvo_executable(), *server(cluster), "query", "-d", "postgres",
                                 "-q", "select pg_sleep(30)"], cwd=tmp_path, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=talvo_environment(tmp_path))
        wait_for_sleep(cluster, "select pg_sleep(30)")
        cluster.stop()
        out, err = proc.communicate(timeout=30)
    finally:
        cluster.stop()
    assert proc.returncode == 1, out + err
    assert out.splitlines()[-1].startswith("❌ Query error: ") and "Traceback" not in out + err


def wait_for_sleep(pg, statement, timeout=20.0):
    """Until talvo's session sleeps in `statement`, found by its text."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if pg.psql("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'talvo' "
                   f"AND wait_event = 'PgSleep' AND strpos(query, '{statement}') > 0") != "0":
            return
        time.sleep(0.05)
    raise AssertionError("the query never started sleeping")


@pytest.mark.parametrize("sig,status,line", [(signal.SIGINT, 130, "❌ Interrupted"),
                                             (signal.SIGTERM, 143, "❌ Terminated")])
def test_signals_cancel_the_statement_and_leave_no_session(db, tmp_path, sig, status, line):
    proc = subprocess.Popen([talvo_executable(), *server(db), "query", "-d", DB, "-q",
                             "select pg_sleep(60)"], cwd=tmp_path, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=talvo_environment(tmp_path))
    wait_for_sleep(db, "select pg_sleep(60)")
    proc.send_signal(sig)
    out, err = proc.communicate(timeout=30)
    assert proc.returncode == status, out + err
    assert out.splitlines()[-1] == line and "Traceback" not in out + err
    assert db.wait_until_no_connections() == 0


def test_debug_runs_show_no_password(db, run_talvo, tmp_path):
    secret_new = "N3wRole-Secret"
    project, elsewhere = tmp_path / "project", tmp_path / "elsewhere"
    project.mkdir()
    elsewhere.mkdir()
    (project / ".env").write_text(
        f"DATABASE_URL=postgres://postgres:{db.password}@{db.host}:{db.port}/{DB}\n")
    runs = [
        run_talvo("show", "tables", "-d", DB, cwd=project),
        run_talvo(*server(db), "create", "-u", "talvo_debug_role", "-p", secret_new,
                  "-d", "talvo_debug_db", cwd=elsewhere),
        run_talvo(*server(db), "drop", "database", "-d", "talvo_debug_db", cwd=elsewhere,
                  input="talvo_debug_db\n"),
    ]
    try:
        for p in runs:
            assert p.returncode == 0, p.stdout + p.stderr
            seen = p.stdout + p.stderr
            assert "Debug mode enabled" in seen
            assert db.password not in seen and secret_new not in seen
    finally:
        db.psql("DROP DATABASE IF EXISTS talvo_debug_db WITH (FORCE)")
        db.psql("DROP ROLE IF EXISTS talvo_debug_role")


@pytest.mark.parametrize("name,content", [
    (".env", "POSTGRES_PASSWORD=Secret-Value\nthis is no setting Secret-Value\n"),
    (".json", '{"password": "Secret-Value" oops}'),
    (".yaml", "password: [Secret-Value\n"),
])
def test_malformed_files_are_one_line(run_talvo, tmp_path, name, content):
    (tmp_path / name).write_text(content)
    p = run_talvo("show", "dbs", cwd=tmp_path)
    ended_on(p, 1, f"❌ Error: {tmp_path / name}: ")
    assert "Secret-Value" not in p.stdout + p.stderr


def test_silent_server_ends_a_drop_in_ten_seconds(run_talvo):
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)  # the handshake completes in the backlog; nothing ever replies
        port = silent.getsockname()[1]
        p = run_talvo("-H", "127.0.0.1", "--port", str(port), "-P", "x", "drop", "user", "-u", "u",
                      input="u\n")
    ended_on(p, 1, f"❌ Error dropping user [1]: no answer from 127.0.0.1:{port} within 10 seconds")


def test_directory_name_that_is_not_utf8(db, run_talvo, tmp_path):
    project = os.path.join(os.fsencode(tmp_path), b"caf\xe9")
    os.mkdir(project)
    with open(os.path.join(project, b".env"), "w") as f:
        f.write(f"DATABASE_URL=postgres://postgres:{db.password}@{db.host}:{db.port}/{DB}\n")
    p = run_talvo("show", "tables", cwd=project)
    assert p.returncode == 0, p.stdout + p.stderr
    assert "caf\\udce9/.env" in p.stdout  # the stray byte, shown as an escape


UNREADABLE = """
import sys, talvo.envloader, talvo.talvo as t
def load_env(path):
    raise PermissionError(13, "Permission denied", path)
talvo.envloader.load_env = load_env
sys.argv = ["talvo", "show", "dbs"]
t.main()
"""


def test_unreadable_settings_file(tmp_path):
    # Root reads any file, so the refusal is made where the file is opened.
    # "Permission denied" is no server's refusal: nothing asks for a password.
    (tmp_path / ".env").write_text("POSTGRES_PORT=1\n")
    p = subprocess.run([sys.executable, "-c", UNREADABLE], cwd=tmp_path, capture_output=True,
                       text=True, env=talvo_environment(tmp_path), timeout=60, input="")
    ended_on(p, 1, f"❌ Error: [Errno 13] Permission denied: '{tmp_path / '.env'}'")
    assert "password" not in p.stdout.lower() + p.stderr.lower() and "🔍 Using" not in p.stdout
