"""create and drop as an operator runs them: the installed console script."""

from admin_support import database_owner, drop_everything, role_exists, unique


def server_options(pg):
    return ["-H", pg.host, "--port", str(pg.port), "-P", pg.password]


def test_create_then_drop_database_then_drop_user(pg, run_talvo):
    user, db = unique("demo"), unique("demodb")
    try:
        made = run_talvo(*server_options(pg), "create", user, "demo-pw", db)
        assert made.returncode == 0, made.stderr
        assert "✅ Database '" + db + "' created" in made.stdout
        assert database_owner(pg, db) == user

        dropped = run_talvo(*server_options(pg), "drop", "database", "-d", db, input=db + "\n")
        assert dropped.returncode == 0, dropped.stderr
        assert "✅ Database '" + db + "' dropped successfully" in dropped.stdout
        assert not database_owner(pg, db)

        gone = run_talvo(*server_options(pg), "drop", "user", "-u", user, input=" " + user + "\n")
        assert gone.returncode == 0, gone.stderr
        assert "✅ User '" + user + "' dropped successfully" in gone.stdout
        assert not role_exists(pg, user)
    finally:
        drop_everything(pg, [db], [user])
    assert pg.wait_until_no_connections() == 0


def test_create_with_missing_inputs_exits_1(pg, run_talvo):
    ended = run_talvo(*server_options(pg), "create", "only", "two")
    assert ended.returncode == 1
    assert "❌ Missing required info (username, password, database)" in ended.stdout


def test_drop_database_with_closed_input_connects_nothing(pg, run_talvo):
    db = unique("keep")
    pg.psql("CREATE DATABASE " + db)
    try:
        ended = run_talvo(*server_options(pg), "drop", "database", "-d", db, input="")
        assert ended.returncode == 1
        assert database_owner(pg, db) == pg.user
    finally:
        drop_everything(pg, [db])
