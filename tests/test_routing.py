import asyncio
import os
import sys
import textwrap

import pexpect
import pytest

import talvo.talvo as t

HANDLERS = ("show_databases", "show_tables", "show_users", "show_connections", "show_indexes",
            "show_size", "describe_table", "execute_query", "create_user_db", "drop_database",
            "drop_user", "backup_database")


class Recorder:
    """Stands in for the module's logger."""
    def __init__(self):
        self.lines = []

    def __getattr__(self, severity):
        return lambda msg, color=None: self.lines.append((severity, msg, color))


@pytest.fixture
def module(clean_env, monkeypatch):
    """Handlers that record the calls (and the password they saw); a recording logger;
    a prompt that must not be reached unless a test says so."""
    calls = []

    def make(name, asynchronous=True):
        def record(args):
            calls.append((name, args.passwd, args.up_level, args.down_level))

        async def handler(args):
            record(args)
        return handler if asynchronous else record

    for name in HANDLERS:
        monkeypatch.setattr(t, name, make(name, name != "backup_database"), raising=False)
    monkeypatch.setattr(t, "logger", Recorder())

    def no_prompt(prompt):
        raise AssertionError("unexpected prompt " + prompt)
    monkeypatch.setattr("getpass.getpass", no_prompt)
    return calls


def run(*argv):
    parser = t.setup_argument_parser()
    args = parser.parse_args(list(argv))
    commands = next(a for a in parser._actions if a.dest == "command")
    asyncio.run(t.run_command(args, commands.choices["show"], commands.choices["drop"]))
    return args


def denied(message):
    """A server's refusal for want of a privilege, as the driver raises it."""
    from asyncpg.exceptions import InsufficientPrivilegeError
    return InsufficientPrivilegeError(message)


def failing(monkeypatch, name, *errors):
    """Replaces the handler with one that raises the given errors in turn, then succeeds."""
    errors, attempts = list(errors), []

    def attempt(args):
        attempts.append(args.passwd)
        if errors:
            raise errors.pop(0)

    async def handler(args):
        attempt(args)
    monkeypatch.setattr(t, name, attempt if name == "backup_database" else handler)
    return attempts


class TestDispatch:
    @pytest.mark.parametrize("argv, handler", [
        (["show", "dbs"], "show_databases"), (["show", "tables"], "show_tables"),
        (["show", "users"], "show_users"), (["show", "connections"], "show_connections"),
        (["show", "indexes"], "show_indexes"), (["show", "size"], "show_size"),
        (["describe", "-t", "x"], "describe_table"), (["query", "-q", "x"], "execute_query"),
        (["backup"], "backup_database"), (["drop", "database"], "drop_database"),
        (["drop", "user", "-u", "x"], "drop_user"), (["create", "-ul", "3"], "create_user_db"),
    ])
    def test_one_handler_per_command(self, module, argv, handler):
        run(*argv)
        assert [c[0] for c in module] == [handler]

    def test_create_starts_with_zero_search_depths(self, module):
        run("create", "-ul", "3", "-dl", "4")
        assert module[0][2:] == (0, 0)

    @pytest.mark.parametrize("argv, text", [(["show"], "List all databases"),
                                            (["drop"], "Drop a user/role")])
    def test_missing_second_word_prints_that_help(self, module, capsys, argv, text):
        run(*argv)
        assert text in capsys.readouterr().out and module == []

    def test_no_command_runs_nothing(self, module, capsys):
        run("--debug")
        assert module == [] and capsys.readouterr().out == ""


class TestElevation:
    def test_password_from_environment(self, module, monkeypatch):
        attempts = failing(monkeypatch, "show_tables", denied("permission denied for table orders"))
        monkeypatch.setenv("PASSWORD", "envpw")
        args = run("show", "tables")
        assert attempts == [None, "envpw"] and args.passwd == "envpw"
        assert [line[1:] for line in t.logger.lines] == [
            ("📌 Operation failed due to permission. Attempting to elevate and retry...", "#FFFF00"),
            ("🔐 Using password from $PASSWORD", "#00CED1"),
            ("🔁 Retrying operation with provided superuser password...", "#00CED1")]

    @pytest.mark.parametrize("handler, argv", [("show_users", ["show", "users"]),
                                               ("backup_database", ["backup"])])
    def test_given_password_is_used_again(self, module, monkeypatch, handler, argv):
        attempts = failing(monkeypatch, handler, denied("must be superuser"))
        run("-P", "cli", *argv)
        assert attempts == ["cli", "cli"]

    @pytest.mark.parametrize("error", [
        RuntimeError("permission denied for table orders"),
        PermissionError(13, "Permission denied", "/project/.env"),
        RuntimeError("must be superuser"),
    ])
    def test_only_the_servers_privilege_error_counts(self, module, monkeypatch, error):
        # Whatever its text says, an error the server did not raise is no
        # missing privilege: no password cures an unreadable file.
        attempts = failing(monkeypatch, "show_databases", error)
        with pytest.raises(type(error)):
            run("-P", "x", "show", "dbs")
        assert len(attempts) == 1

    @pytest.mark.parametrize("errors", [
        [ValueError("broken")],
        [denied("permission denied"), RuntimeError("unrelated second failure")],
        [denied("permission denied"), denied("permission denied again")],
    ])
    def test_other_errors_and_second_failures_reach_the_caller(self, module, monkeypatch, errors):
        attempts = failing(monkeypatch, "show_databases", *errors)
        with pytest.raises(Exception) as caught:
            run("-P", "x", "show", "dbs")
        assert caught.value is errors[-1] and len(attempts) == len(errors)

    @pytest.mark.parametrize("error", [SystemExit(1), KeyboardInterrupt()])
    def test_exits_and_interruptions_pass_through(self, module, monkeypatch, error):
        error.args = ("permission denied",)
        error.sqlstate = "42501"
        attempts = failing(monkeypatch, "show_databases", error)
        with pytest.raises(type(error)):
            run("-P", "x", "show", "dbs")
        assert len(attempts) == 1


class TestPasswordPolicy:
    @pytest.mark.parametrize("command, expected", [
        (None, False), ("", False), ("show", False), ("create", True), ("drop", True), (5, False)])
    def test_superuser_commands(self, command, expected):
        import argparse
        assert t.command_requires_superuser(argparse.Namespace(command=command)) is expected

    def test_no_record_or_no_command(self):
        assert t.command_requires_superuser(None) is False
        assert t.command_requires_superuser(object()) is False

    def test_show_needs_nothing(self, module):
        args = t.setup_argument_parser().parse_args(["show", "dbs"])
        t.ensure_superuser_password(args, {"password": "s"})
        assert args.passwd is None
        assert t.logger.lines == [("debug", "check command_requires_superuser(args): False", None)]

    @pytest.mark.parametrize("argv, settings, env, passwd, line", [
        (["-P", "cli", "drop", "user", "-u", "x"], {"password": "s"}, "e", "cli", None),
        (["create"], {"password": "s"}, "e", "s", "🔐 Using password from settings"),
        (["create"], {"password": ""}, "e", "e", "🔐 Using password from $PASSWORD"),
        (["drop", "database"], None, "e", "e", "🔐 Using password from $PASSWORD"),
    ])
    def test_sources_in_order(self, module, monkeypatch, argv, settings, env, passwd, line):
        monkeypatch.setenv("PASSWORD", env)
        args = t.setup_argument_parser().parse_args(argv)
        t.ensure_superuser_password(args, settings)
        assert args.passwd == passwd
        warnings = [l[1] for l in t.logger.lines if l[0] == "warning"]
        assert warnings == ([line] if line else [])

    @pytest.mark.parametrize("answer", ["typed", EOFError])
    def test_prompt_is_the_last_source(self, module, monkeypatch, answer):
        prompts = []

        def ask(prompt):
            prompts.append(prompt)
            if answer is EOFError:
                raise EOFError
            return answer
        monkeypatch.setattr("getpass.getpass", ask)
        args = t.setup_argument_parser().parse_args(["drop", "database"])
        if answer is EOFError:
            # Nothing can be typed: the command ends there.
            with pytest.raises(SystemExit) as ended:
                t.ensure_superuser_password(args, {})
            assert ended.value.code == 1
        else:
            t.ensure_superuser_password(args, {})
            assert args.passwd == answer
        assert prompts == [f"[{os.getpid()}]Password for postgres: "]


# Drives the routing and the policy from a process of its own, on a real terminal.
TERMINAL_SCRIPT = textwrap.dedent("""
    import asyncio, sys
    import talvo.talvo as t
    from asyncpg.exceptions import InsufficientPrivilegeError

    attempts = []
    async def show_databases(args):
        attempts.append(args.passwd)
        if len(attempts) == 1:
            raise InsufficientPrivilegeError("permission denied for database sales")
        print("retried with", repr(args.passwd))
    t.show_databases = show_databases

    parser = t.setup_argument_parser()
    args = parser.parse_args(sys.argv[1:])
    t.ensure_superuser_password(args, None)
    print("policy gave", repr(args.passwd))
    try:
        asyncio.run(t.run_command(args, None, None))
    except InsufficientPrivilegeError as e:
        print("reached the caller:", e)
""")


@pytest.fixture
def terminal(tmp_path):
    script = tmp_path / "drive.py"
    script.write_text(TERMINAL_SCRIPT)
    env = {"PATH": os.environ["PATH"], "HOME": str(tmp_path), "TERM": "dumb"}

    def spawn(*argv):
        return pexpect.spawn(sys.executable, [str(script), *argv], env=env, encoding="utf-8",
                             timeout=20, cwd=str(tmp_path))
    return spawn


class TestTerminal:
    def test_empty_answer_aborts_the_retry(self, terminal):
        child = terminal("show", "dbs")
        child.expect(r"\[(\d+)\]Superuser password for postgres: ")
        assert int(child.match.group(1)) == child.pid
        child.sendline("")
        child.expect("❌ No password provided. Aborting retry.")
        child.expect("reached the caller: permission denied for database sales")
        child.expect(pexpect.EOF)

    def test_typed_answer_is_not_echoed_and_used_for_the_retry(self, terminal):
        child = terminal("-U", "admin", "show", "dbs")
        child.expect(r"\]Superuser password for admin: ")
        child.sendline("s3cret")
        child.expect("retried with 's3cret'")
        assert "s3cret" not in child.before
        child.expect(pexpect.EOF)

    def test_policy_prompt_accepts_an_empty_answer(self, terminal):
        child = terminal("drop", "database", "-d", "x")
        child.expect(r"\[\d+\]Password for postgres: ")
        child.sendline("")
        child.expect("policy gave ''")
        # The handler then asks for the name; an empty line aborts it.
        child.expect_exact("❓ Type the database name to confirm: ")
        child.sendline("")
        child.expect_exact("❌ Database name mismatch. Aborted.")
        child.expect(pexpect.EOF)
