"""create: a login role with its password and privileges, and a database that
belongs to it, against the test servers."""
import asyncio
import hashlib
import os

import pytest

import talvo.talvo as tv
from admin_support import (ExceptionPrinter, admin, can_log_in, closed_port,  # noqa: F401
                           create_args, database_owner, drop_everything, role_exists, run,
                           settings_found, spawn_handler, unique)


@pytest.fixture
def names(pg):
    made = {"roles": [], "databases": []}

    def make(kind, prefix):
        name = unique(prefix)
        made[kind].append(name)
        return name

    yield make
    drop_everything(pg, made["databases"], made["roles"])


def create(monkeypatch, args, answers=""):
    return run(monkeypatch, tv.create_user_db(args), answers)


def output_lines(capsys):
    return capsys.readouterr().out.splitlines()


def test_three_words_create_a_role_that_logs_in_and_owns_its_database(pg, admin, names, capsys,
                                                                     clean_env):
    user, db = names("roles", "app"), names("databases", "appdb")
    create(clean_env, create_args(pg, user, "s3cret", db, username="ignored", database="other"))
    assert output_lines(capsys) == [
        "🕵🏿 USERNAME: " + user,
        "🔑 PASSWORD: *****",
        "🧰 DATABASE: " + db,
        "👻 HOSTNAME: " + pg.host,
        "🚢 PORT: " + str(pg.port),
        "✅ User '" + user + "' created",
        "✅ User '" + user + "' updated with privileges",
        "🔒 Logged out from postgres superuser",
        "✅ Database '" + db + "' created",
        "🔒 Logged out from new user session",
    ]
    assert database_owner(pg, db) == user
    assert asyncio.run(can_log_in(pg, user, "s3cret", database=db)) == user
    flags = pg.psql("SELECT rolcanlogin, rolcreatedb, rolreplication, rolbypassrls "
                    "FROM pg_roles WHERE rolname = '%s'" % user)
    assert flags == "t|t|t|t"
    assert pg.wait_until_no_connections() == 0
    summaries = [m for m in admin.messages("debug") if m.startswith("username: ")]
    assert len(summaries) == 4
    assert all("s3cret" not in m and ", password: *****," in m for m in summaries)
    # The new role's password is logged masked.
    assert admin.messages("notice")[:2] == ["args.CONFIG: " + str([user, "******", db]),
                                           "LEN args.CONFIG: 3"]


def test_existing_role_still_gets_its_privileges(pg, admin, names, capsys, clean_env):
    user, db = names("roles", "dup"), names("databases", "dupdb")
    pg.psql("CREATE ROLE %s" % user)
    create(clean_env, create_args(pg, user, "pw", db))
    lines = output_lines(capsys)
    at = lines.index("⚠️ User '" + user + "' already exists")
    assert lines[at + 1] == "✅ User '" + user + "' updated with privileges"
    assert pg.psql("SELECT rolcanlogin FROM pg_roles WHERE rolname = '%s'" % user) == "t"
    assert pg.wait_until_no_connections() == 0


@pytest.mark.parametrize("answer, recreated", [(" Y \n", True), ("y\n", True), ("yes\n", False),
                                               ("\n", False)])
def test_existing_database_is_recreated_only_on_y(pg, admin, names, capsys, clean_env, answer,
                                                  recreated):
    user, db = names("roles", "re"), names("databases", "redb")
    create(clean_env, create_args(pg, user, "pw", db))
    pg.psql("CREATE TABLE marker ()", database=db, user=user, password="pw")
    capsys.readouterr()
    create(clean_env, create_args(pg, user, "pw", db), answers=answer)
    lines = output_lines(capsys)
    at = lines.index("⚠️ Database '" + db + "' already exists.")
    # The answer is typed on the question's line.
    question = "❓ Drop and recreate '" + db + "'? [y/N]: "
    if recreated:
        assert lines[at + 1:] == [question + "🗑️ Database '" + db + "' dropped",
                                  "✅ Database '" + db + "' recreated",
                                  "🔒 Logged out from new user session"]
    else:
        assert lines[at + 1:] == [question + "⏭️ Skipping database creation",
                                  "🔒 Logged out from new user session"]
    tables = pg.psql("SELECT count(*) FROM pg_class WHERE relname = 'marker'", database=db)
    assert tables == ("0" if recreated else "1")
    assert pg.wait_until_no_connections() == 0


def test_database_of_another_role_fails_the_drop_and_still_logs_out(pg, admin, names, capsys,
                                                                    clean_env):
    user, db = names("roles", "thief"), names("databases", "foreign")
    pg.psql("CREATE DATABASE %s" % db)
    create(clean_env, create_args(pg, user, "pw", db), answers="y\n")
    lines = output_lines(capsys)
    assert lines[-2].endswith("[y/N]: ❌ Error: must be owner of database " + db)
    assert lines[-1] == "🔒 Logged out from new user session"
    assert database_owner(pg, db) == pg.user
    assert pg.wait_until_no_connections() == 0


def test_database_in_use_is_not_recreated(pg, admin, names, capsys, clean_env):
    user, db = names("roles", "busy"), names("databases", "busydb")
    create(clean_env, create_args(pg, user, "pw", db))

    async def go():
        import asyncpg
        other = await asyncpg.connect(host=pg.host, port=pg.port, user=pg.user,
                                      password=pg.password, database=db)
        try:
            await tv.create_user_db(create_args(pg, user, "pw", db))
        finally:
            await other.close()

    capsys.readouterr()
    clean_env.setattr("sys.stdin", __import__("io").StringIO("y\n"))
    asyncio.run(go())
    lines = output_lines(capsys)
    errors = [l for l in lines if "❌ Error: " in l]
    assert len(errors) == 1 and "is being accessed by other users" in errors[0]
    assert not any("recreated" in l for l in lines)
    assert pg.wait_until_no_connections() == 0


def test_standard_input_closed_at_the_question(pg, admin, names, capsys, clean_env):
    user, db = names("roles", "eof"), names("databases", "eofdb")
    create(clean_env, create_args(pg, user, "pw", db))
    capsys.readouterr()
    with pytest.raises(SystemExit) as ended:
        create(clean_env, create_args(pg, user, "pw", db), answers="")
    assert ended.value.code == 1
    assert output_lines(capsys)[-1].endswith("❌ nothing typed; aborted")
    assert database_owner(pg, db) == user
    assert pg.wait_until_no_connections() == 0


@pytest.mark.parametrize("words, options", [
    ((), {}),
    (("onlyuser", "onlypw"), {}),
    (("a", "b"), {"username": "u", "password": "p"}),
])
def test_missing_inputs_end_the_process_with_status_1(pg, admin, capsys, clean_env, words,
                                                      options):
    with pytest.raises(SystemExit) as ended:
        create(clean_env, create_args(pg, *words, **options))
    assert ended.value.code == 1
    assert output_lines(capsys) == ["❌ Missing required info (username, password, database)"]
    assert pg.wait_until_no_connections() == 0


def test_settings_fill_what_is_missing_and_give_the_address(pg, admin, names, capsys, clean_env):
    user, db = names("roles", "fromsettings"), names("databases", "settingsdb")
    calls = settings_found({"username": user, "password": "pw", "database": db,
                            "host": pg.host, "port": pg.port})(clean_env)
    args = create_args(pg, port=closed_port(), hostname="192.0.2.1")
    create(clean_env, args)
    lines = output_lines(capsys)
    assert lines[0] == "🕵🏿 USERNAME: " + user and lines[-1] == "🔒 Logged out from new user session"
    assert database_owner(pg, db) == user
    assert calls == [(None, 0, 0)]
    # Empty values are written back to args.
    assert (args.password, args.database) == ("pw", db)


def test_one_word_naming_a_settings_directory_wins_over_options(pg, admin, names, capsys,
                                                                clean_env, tmp_path):
    user, db = names("roles", "dirsettings"), names("databases", "dirdb")
    project = tmp_path / "project"
    project.mkdir()
    (project / "settings.py").write_text("DATABASES = {}\n")
    found = {"username": user, "password": "pw", "database": db, "host": "", "port": ""}
    calls = settings_found(found)(clean_env)
    create(clean_env, create_args(pg, str(project), database="optiondb", username="optuser"))
    assert calls[-1] == (str(project / "settings.py"), 0, 0)
    assert output_lines(capsys)[:3] == ["🕵🏿 USERNAME: " + user, "🔑 PASSWORD: *****",
                                        "🧰 DATABASE: " + db]
    assert database_owner(pg, db) == user


@pytest.fixture
def talvo_ini():
    path = os.path.join(os.path.dirname(tv.__file__), "talvo.ini")
    assert not os.path.exists(path)

    def write(**server):
        with open(path, "w") as f:
            f.write("[server]\n" + "".join(f"{k} = {v}\n" for k, v in server.items()))

    yield write
    if os.path.exists(path):
        os.remove(path)


def test_talvo_ini_address_wins_over_options(pg, admin, names, capsys, clean_env, talvo_ini):
    user, db = names("roles", "ini"), names("databases", "inidb")
    talvo_ini(host=pg.host, port=pg.port)
    create(clean_env, create_args(pg, user, "pw", db, hostname="192.0.2.1", port=closed_port()))
    lines = output_lines(capsys)
    assert lines[3:5] == ["👻 HOSTNAME: " + pg.host, "🚢 PORT: " + str(pg.port)]
    assert database_owner(pg, db) == user
    assert "config.get_config('server', 'host'): " + pg.host in admin.messages("debug")


def test_settings_address_wins_over_talvo_ini(pg, admin, names, capsys, clean_env, talvo_ini):
    user, db = names("roles", "inis"), names("databases", "inisdb")
    talvo_ini(host="192.0.2.1", port=closed_port())
    settings_found({"username": user, "password": "pw", "database": db,
                    "host": pg.host, "port": pg.port})(clean_env)
    create(clean_env, create_args(pg))
    assert output_lines(capsys)[3:5] == ["👻 HOSTNAME: " + pg.host, "🚢 PORT: " + str(pg.port)]
    assert database_owner(pg, db) == user


def test_superuser_error_with_traceback_switch_prints_the_exception(pg, admin, capsys, clean_env):
    printer = ExceptionPrinter()
    clean_env.setattr(tv, "print_exception", printer, raising=False)
    clean_env.setenv("TRACEBACK", "True")
    create(clean_env, create_args(pg, "tbuser", "pw", "tbdb", port=closed_port()))
    assert len(printer.seen) == 1 and isinstance(printer.seen[0], OSError)
    # The trace, then the one line that says the command failed.
    assert output_lines(capsys)[-1].startswith("❌ Error (superuser connection): ")


@pytest.mark.parametrize("tprint_set", [True, False])
def test_database_step_error_with_traceback_switch(pg, admin, names, capsys, clean_env,
                                                   tprint_set):
    user = names("roles", "tbdb")
    # A NUL in the database name cannot be sent: the check itself fails.
    printer = ExceptionPrinter()
    if tprint_set:
        clean_env.setattr(tv, "tprint", printer)
    clean_env.setenv("TRACEBACK", "TRUE")
    create(clean_env, create_args(pg, user, "pw", "bad\x00name"))
    out = capsys.readouterr().out
    assert out.splitlines()[-1].startswith("❌ Error (new user connection): ")
    if tprint_set:
        assert len(printer.seen) == 1
    else:
        assert "Traceback (most recent call last):" in out
    assert pg.wait_until_no_connections() == 0


def test_wrong_superuser_password_is_reported_and_prompted(pg, names, tmp_path):
    user = names("roles", "nopw")
    child = spawn_handler(tmp_path, "create_user_db",
                          create_args(pg, user, "pw", "nodb", passwd="wrong"))
    child.expect_exact("❌ Invalid PostgreSQL password")
    child.expect(r"\[\d+\]Password for postgres: ")
    child.sendline("anything")
    child.expect_exact("HANDLER DONE")
    child.wait()
    assert not role_exists(pg, user)
    assert pg.wait_until_no_connections() == 0


def test_superuser_error_prompts_until_an_answer(pg, tmp_path):
    child = spawn_handler(tmp_path, "create_user_db",
                          create_args(pg, "someone", "pw", "somedb", port=closed_port()))
    child.expect_exact("❌ Error (superuser connection): ")
    prompt = r"\[\d+\]Password for postgres \[q/x/quit/exit for exit\]: "
    child.expect(prompt)
    child.sendline("")
    child.expect(prompt)
    child.sendline("quit")
    child.expect_exact("❌ exit/quit without password user 'postgres' nedded !")
    child.expect_exact("HANDLER DONE")
    child.wait()
    assert pg.wait_until_no_connections() == 0


@pytest.mark.parametrize("user, password, database", [
    ("MyApp", "s3cret", "MyDb"),
    ("x; DROP DATABASE postgres", "pw", "inj_plain"),
    ("Quote\"d", "it's '; DROP ROLE postgres; --", "x; DROP DATABASE template1"),
    ("user", "back\\slash'", "order"),
])
def test_names_are_kept_exactly_and_cannot_inject_sql(pg, admin, capsys, clean_env, user,
                                                       password, database):
    try:
        create(clean_env, create_args(pg, user, password, database))
        assert database_owner(pg, database) == user
        assert asyncio.run(can_log_in(pg, user, password, database=database)) == user
        # Nothing under the folded names.
        assert not role_exists(pg, user.lower()) or user.lower() == user
        assert not database_owner(pg, database.lower()) or database.lower() == database
        assert pg.psql("SELECT count(*) FROM pg_database "
                       "WHERE datname IN ('postgres', 'template1')") == "2"
        assert role_exists(pg, "postgres")
        assert pg.wait_until_no_connections() == 0
    finally:
        drop_everything(pg, [database], [user])


@pytest.mark.parametrize("user, database", [("u" * 64, "fine_db"), ("fine_user", "é" * 32)])
def test_name_longer_than_the_server_keeps_is_refused_before_connecting(pg, admin, capsys,
                                                                         clean_env, user,
                                                                         database):
    create(clean_env, create_args(pg, user, "pw", database))
    kind = "User" if len(user) > 63 else "Database"
    assert output_lines(capsys) == [
        "❌ " + kind + " name is 64 bytes long; PostgreSQL allows at most 63"]
    assert admin.messages("info") == []
    assert not role_exists(pg, user[:63]) and not role_exists(pg, "fine_user")
    assert not database_owner(pg, "fine_db")


@pytest.mark.parametrize("password", [
    "plain-ascii-pw",
    "pässwörd",            # NFKC leaves it alone
    "ﬁx\u00a0Ⅸ\u00adend",  # ligature, no-break space, Roman numeral, soft hyphen: all mapped
    "\u0627\u0644\u0633\u0631",  # right-to-left text
])
def test_clear_password_never_reaches_the_server_log(pg_logged, admin, clean_env, password):
    user, db = unique("logged"), unique("loggeddb")
    try:
        create(clean_env, create_args(pg_logged, user, password, db))
        assert asyncio.run(can_log_in(pg_logged, user, password, database=db)) == user
        # libpq normalises as the server does.
        assert pg_logged.psql("SELECT current_user", database=db, user=user,
                              password=password) == user
        log = pg_logged.server_log()
        assert "CREATE USER " + user + " WITH PASSWORD 'SCRAM-SHA-256$4096:" in log
        assert password not in log
        assert pg_logged.wait_until_no_connections() == 0
    finally:
        drop_everything(pg_logged, [db], [user])


@pytest.mark.parametrize("user", ["MixedCase", "Order", "Has-Dash"])
def test_md5_form_is_salted_with_the_role_name_as_given(pg, admin, capsys, clean_env, user):
    pg.psql("ALTER ROLE postgres SET password_encryption = 'md5'")
    try:
        create(clean_env, create_args(pg, user, "md5pw", unique("md5db")))
        expected = "md5" + hashlib.md5(("md5pw" + user).encode()).hexdigest()
        assert pg.psql("SELECT rolpassword FROM pg_authid WHERE rolname = '%s'" % user) == \
            expected
    finally:
        pg.psql("ALTER ROLE postgres RESET password_encryption")
        drop_everything(pg, roles=[user])
        pg.wait_until_no_connections()


def test_cancelled_while_the_server_works_leaves_no_connection(pg, admin, names, clean_env):
    user, db = names("roles", "cancel"), names("databases", "canceldb")

    async def go():
        import asyncpg
        # CREATE DATABASE waits while another client uses its template.
        blocker = await asyncpg.connect(host=pg.host, port=pg.port, user=pg.user,
                                        password=pg.password, database="template1")
        try:
            with pytest.raises(TimeoutError):
                await asyncio.wait_for(tv.create_user_db(create_args(pg, user, "pw", db)), 1.0)
        finally:
            await blocker.close()

    asyncio.run(go())
    assert role_exists(pg, user)
    assert pg.wait_until_no_connections() == 0


def test_existing_role_with_another_password_cannot_open_its_session(pg, admin, names, capsys,
                                                                     clean_env):
    user, db = names("roles", "oldpw"), names("databases", "oldpwdb")
    pg.psql("CREATE ROLE %s LOGIN PASSWORD 'old'" % user)
    create(clean_env, create_args(pg, user, "new", db))
    lines = output_lines(capsys)
    assert lines[-3] == "🔒 Logged out from postgres superuser"
    assert lines[-2].startswith("❌ Error (new user connection): password authentication failed")
    assert lines[-1] == "❌ Error (Failed connect to database server)"
    assert not pg.psql("SELECT datname FROM pg_database WHERE datname = '%s'" % db)
    assert pg.wait_until_no_connections() == 0
