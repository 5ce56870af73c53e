"""drop database and drop user: typed confirmation, then the drop, against the
test server."""
import asyncio
import io
import sys

import pytest

import talvo.talvo as tv
from inprocess import REQUIRED_WITH_HINT
from admin_support import (ExceptionPrinter, admin, closed_port, drop_database_args,  # noqa: F401

                           drop_everything, drop_user_args, role_exists, run, settings_found,
                           unique)


def database_exists(pg, name):
    return pg.psql("SELECT count(*) FROM pg_database WHERE datname = '%s'"
                   % name.replace("'", "''")) == "1"


@pytest.fixture
def database(pg):
    made = []

    def make(prefix="dropme", name=None):
        name = name or unique(prefix)
        pg.psql('CREATE DATABASE "%s"' % name.replace('"', '""'))
        made.append(name)
        return name

    yield make
    drop_everything(pg, made)


def drop_db(monkeypatch, args, answers):
    return run(monkeypatch, tv.drop_database(args), answers)


def drop_usr(monkeypatch, args, answers):
    return run(monkeypatch, tv.drop_user(args), answers)


def test_confirmed_with_blanks_terminates_other_clients_and_drops(pg, admin, database, capsys,
                                                                  clean_env):
    name = database()

    async def go():
        import asyncpg
        other = await asyncpg.connect(host=pg.host, port=pg.port, user=pg.user,
                                      password=pg.password, database=name)
        await tv.drop_database(drop_database_args(pg, name))
        assert other.is_closed() or await _is_gone(other)

    clean_env.setattr(sys, "stdin", io.StringIO("  " + name + " \t\n"))
    asyncio.run(go())
    assert capsys.readouterr().out.splitlines() == [
        "⚠️ WARNING: You are about to DROP database '" + name + "'",
        "❓ Type the database name to confirm: ✅ Database '" + name + "' dropped successfully",
    ]
    assert not database_exists(pg, name)
    assert admin.messages("notice") == [
        "database : postgres", "user     : postgres", "password : " + "*" * len(pg.password),
        "host     : " + pg.host, "port     : " + str(pg.port)]
    assert pg.wait_until_no_connections() == 0


async def _is_gone(conn):
    try:
        await conn.fetchval("SELECT 1")
    except Exception:
        return True
    return False


@pytest.mark.parametrize("answer", ["DROPME\n", "\n", "something else\n"])
def test_any_other_answer_aborts_before_connecting(pg, admin, database, capsys, clean_env,
                                                   answer):
    name = database("dropme")
    drop_db(clean_env, drop_database_args(pg, name), answer.replace("DROPME", name.upper()))
    out = capsys.readouterr().out
    assert out.endswith("❓ Type the database name to confirm: ❌ Database name mismatch. Aborted.\n")
    assert database_exists(pg, name)
    assert admin.messages("notice") == []


def test_closed_input_aborts_with_nothing_dropped(pg, admin, database, clean_env, capsys):
    name = database()
    with pytest.raises(SystemExit) as ended:
        drop_db(clean_env, drop_database_args(pg, name), "")
    assert ended.value.code == 1
    assert capsys.readouterr().out.endswith("❌ nothing typed; aborted\n")
    assert database_exists(pg, name)
    assert admin.messages("notice") == []


def test_unknown_database_still_reports_success(pg, admin, capsys, clean_env):
    drop_db(clean_env, drop_database_args(pg, "no_such_db"), "no_such_db\n")
    assert capsys.readouterr().out.endswith("✅ Database 'no_such_db' dropped successfully\n")


def test_only_the_database_named_exactly_is_dropped_and_only_its_sessions_end(
        pg, admin, database, capsys, clean_env):
    lower = database(name=unique("sales"))
    upper = database(name=lower.replace("sales", "Sales"))

    async def go():
        import asyncpg
        sessions = [await asyncpg.connect(host=pg.host, port=pg.port, user=pg.user,
                                          password=pg.password, database=db)
                    for db in (upper, lower)]
        await tv.drop_database(drop_database_args(pg, upper))
        on_upper, on_lower = sessions
        assert on_upper.is_closed() or await _is_gone(on_upper)
        assert await on_lower.fetchval("SELECT 1") == 1
        await on_lower.close()

    clean_env.setattr(sys, "stdin", io.StringIO(upper + "\n"))
    asyncio.run(go())
    assert capsys.readouterr().out.endswith(
        "✅ Database '" + upper + "' dropped successfully\n")
    assert not database_exists(pg, upper)
    assert database_exists(pg, lower)


def test_names_longer_than_the_server_keeps_are_refused_before_the_question(
        pg, admin, database, role, capsys, clean_env):
    # The server would cut these to the names of objects that exist.
    kept_database, kept_role = database(name="d" * 63), role(name="é" * 31)
    drop_db(clean_env, drop_database_args(pg, "d" * 64), "")
    drop_usr(clean_env, drop_user_args(pg, "é" * 32), "")
    assert capsys.readouterr().out.splitlines() == [
        "❌ Database name is 64 bytes long; PostgreSQL allows at most 63",
        "❌ User name is 64 bytes long; PostgreSQL allows at most 63",
    ]
    assert database_exists(pg, kept_database) and role_exists(pg, kept_role)
    assert admin.lines == []


def test_name_cannot_inject_sql(pg, admin, database, clean_env):
    keep = database("keepme")
    odd = database(name="x; DROP DATABASE " + keep)
    drop_db(clean_env, drop_database_args(pg, odd), odd + "\n")
    assert not database_exists(pg, odd)
    assert database_exists(pg, keep)


def test_name_from_settings(pg, admin, database, capsys, clean_env):
    name = database()
    calls = settings_found({"database": name})(clean_env)
    args = drop_database_args(pg, None, up_level=2, down_level=3)
    drop_db(clean_env, args, name + "\n")
    assert calls == [(None, 2, 3)]
    assert args.database == name
    assert capsys.readouterr().out.startswith("📄 Using database: " + name + "\n")
    assert not database_exists(pg, name)


@pytest.mark.parametrize("found", [{}, {"database": ""}, None])
def test_no_name_anywhere(pg, admin, capsys, clean_env, found):
    settings_found(found)(clean_env)
    drop_db(clean_env, drop_database_args(pg, ""), "")
    assert capsys.readouterr().out.startswith(REQUIRED_WITH_HINT)


@pytest.mark.parametrize("switch", [None, "YES"])
def test_failure_is_reported_and_closes_the_connection(pg, admin, database, capsys, clean_env,
                                                       switch):
    name = database()
    printer = ExceptionPrinter()
    clean_env.setattr(tv, "print_exception", printer, raising=False)
    if switch:
        clean_env.setenv("TRACEBACK", switch)
    # Connected, but a non-superuser may not drop another role's database.
    role = unique("weak")
    pg.psql("CREATE ROLE %s LOGIN PASSWORD 'weakpw'" % role)
    try:
        drop_db(clean_env, drop_database_args(pg, name, user=role, passwd="weakpw"), name + "\n")
    finally:
        pg.wait_until_no_connections()
        drop_everything(pg, roles=[role])
    out = capsys.readouterr().out
    assert out.endswith("❌ Error dropping database [0]: must be owner of database " + name + "\n")
    assert database_exists(pg, name)
    if switch:
        assert len(printer.seen) == 1 and "must be owner" in str(printer.seen[0])
    else:
        assert printer.seen == []
    assert pg.wait_until_no_connections() == 0


def test_wrong_password_is_reported(pg, admin, database, capsys, clean_env):
    name = database()
    drop_db(clean_env, drop_database_args(pg, name, passwd="wrong"), name + "\n")
    assert "❌ Error dropping database [0]: password authentication failed" in \
        capsys.readouterr().out
    assert database_exists(pg, name)


# -- drop user ---------------------------------------------------------------

@pytest.fixture
def role(pg):
    made = []

    def make(prefix="gone", name=None):
        name = name or unique(prefix)
        pg.psql('CREATE ROLE "%s"' % name.replace('"', '""'))
        made.append(name)
        return name

    yield make
    drop_everything(pg, roles=made)


def test_user_confirmed_with_blanks_is_dropped(pg, admin, role, capsys, clean_env):
    name = role()
    drop_usr(clean_env, drop_user_args(pg, name), "\t" + name + "  \n")
    assert capsys.readouterr().out.splitlines() == [
        "⚠️  WARNING: You are about to DROP user '" + name + "'",
        "❓ Type the username to confirm: ✅ User '" + name + "' dropped successfully",
    ]
    assert not role_exists(pg, name)
    assert admin.lines == []
    assert pg.wait_until_no_connections() == 0


@pytest.mark.parametrize("answer", ["upper", "\n", "other\n"])
def test_user_other_answer_aborts(pg, admin, role, capsys, clean_env, answer):
    name = role()
    drop_usr(clean_env, drop_user_args(pg, name), name.upper() + "\n" if answer == "upper"
             else answer)
    assert capsys.readouterr().out.endswith("❌ Username mismatch. Aborted.\n")
    assert role_exists(pg, name)


def test_user_closed_input_aborts_with_nothing_dropped(pg, admin, role, clean_env):
    name = role()
    with pytest.raises(SystemExit):
        drop_usr(clean_env, drop_user_args(pg, name), "")
    assert role_exists(pg, name)


def test_user_required(pg, admin, capsys, clean_env):
    settings_found({"username": "fromsettings"})(clean_env)
    drop_usr(clean_env, drop_user_args(pg, ""), "")
    assert capsys.readouterr().out == "❌ Username required. Use -u/--username\n"


def test_unknown_user_still_reports_success(pg, admin, capsys, clean_env):
    drop_usr(clean_env, drop_user_args(pg, "no_such_role"), "no_such_role\n")
    assert capsys.readouterr().out.endswith("✅ User 'no_such_role' dropped successfully\n")


def test_owner_of_a_database_cannot_be_dropped(pg, admin, role, capsys, clean_env):
    name = role("owner")
    db = unique("owned")
    pg.psql("CREATE DATABASE %s OWNER %s" % (db, name))
    try:
        drop_usr(clean_env, drop_user_args(pg, name), name + "\n")
    finally:
        drop_everything(pg, [db])
    out = capsys.readouterr().out
    assert ("❓ Type the username to confirm: ❌ Error dropping user [1]: role \"" + name +
            "\" cannot be dropped because some objects depend on it\n"
            "DETAIL:  owner of database " + db + "\n") in out
    assert role_exists(pg, name)
    assert pg.wait_until_no_connections() == 0


def test_only_the_role_named_exactly_is_dropped(pg, admin, role, capsys, clean_env):
    lower = role(name=unique("uq1"))
    upper = role(name=lower.replace("uq1", "UQ1"))
    drop_usr(clean_env, drop_user_args(pg, upper), upper + "\n")
    assert capsys.readouterr().out.endswith("✅ User '" + upper + "' dropped successfully\n")
    assert not role_exists(pg, upper) and role_exists(pg, lower)


@pytest.mark.parametrize("odd", ["x; DROP USER keeper", "Quoted\"Role", "user"])
def test_user_name_cannot_inject_sql(pg, admin, role, clean_env, odd):
    keeper = role(name="keeper")
    target = role(name=odd)
    drop_usr(clean_env, drop_user_args(pg, target), target + "\n")
    assert not role_exists(pg, target) and role_exists(pg, keeper)


def test_user_failure_closes_the_connection(pg, admin, role, capsys, clean_env):
    name = role()
    drop_usr(clean_env, drop_user_args(pg, name, port=closed_port()), name + "\n")
    assert "❌ Error dropping user [1]: " in capsys.readouterr().out
    drop_usr(clean_env, drop_user_args(pg, name, passwd="wrong"), name + "\n")
    assert role_exists(pg, name)
    assert pg.wait_until_no_connections() == 0
