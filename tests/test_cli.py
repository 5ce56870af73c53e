import argparse
import json
import os
import re
import subprocess
import sys

import pytest

import talvo.talvo as t

with open(os.path.join(os.path.dirname(t.__file__), "__version__.py")) as f:
    VERSION = re.search(r'^version\s*=\s*"([^"]+)"', f.read(), re.M).group(1)

STARTUP_PROBE = """
import json, os, sys
sys.argv = json.loads(sys.argv[1])
import talvo.talvo as t
print(json.dumps({k: os.environ.get(k) for k in ("DEBUG", "LOGGING", "TRACEBACK", "NO_LOGGING")}
                 | {"level": t.logger.getEffectiveLevel()}))
"""


def start(argv, tmp_path, **env):
    base = {"PATH": "/usr/bin", "FORCE_PLAIN_LOG": "1", **env}
    out = subprocess.run([sys.executable, "-c", STARTUP_PROBE, json.dumps(argv)], env=base,
                         cwd=tmp_path, capture_output=True, text=True, check=True).stdout
    lines = out.splitlines()
    return lines[:-1], json.loads(lines[-1])


class TestStartup:
    @pytest.mark.parametrize("argv", [["talvo", "--debug", "show", "dbs"],
                                      ["talvo", "describe", "-d", "sales", "-t", "orders"]])
    def test_switch_on(self, tmp_path, argv):
        printed, state = start(argv, tmp_path, NO_LOGGING="1")
        assert printed == ["🐞 Debug mode enabled"]
        assert state == {"DEBUG": "1", "LOGGING": "1", "TRACEBACK": "1", "NO_LOGGING": None,
                         "level": 10}

    @pytest.mark.parametrize("argv", [["talvo"], ["talvo", "--debugging"], ["talvo", "-dx"],
                                      ["--debug"]])
    def test_switch_off(self, tmp_path, argv):
        printed, state = start(argv, tmp_path)
        assert printed == []
        assert state == {"DEBUG": None, "LOGGING": None, "TRACEBACK": None, "NO_LOGGING": "1",
                         "level": 20}

    def test_debug_from_the_caller_sets_the_level_silently(self, tmp_path):
        printed, state = start(["talvo", "show", "dbs"], tmp_path, DEBUG="true")
        assert printed == [] and state["level"] == 10 and state["NO_LOGGING"] == "1"

    def test_module_wide_values(self):
        assert (t.HOST, t.DEFAULT_PORT, t._settings_cache) == ("127.0.0.1", 5432, None)


class TestVersion:
    @pytest.mark.parametrize("content, expected", [
        (None, "2.0"),
        (b'version = "1.4.2"\n', "1.4.2"),
        (b'__version__ = "9.9"\n', "2.0"),
        (b"version == 3\nversion = '5.1'\n", "5.1"),
        (b"  version_info = '7'", "7"),
        (b"version = \"'x'\"\n", "x"),
        (b'version = "\xff"\n', "2.0"),
    ])
    def test_version_file_beside_the_module(self, tmp_path, monkeypatch, content, expected):
        if content is not None:
            (tmp_path / "__version__.py").write_bytes(content)
        monkeypatch.setattr(t, "__file__", str(tmp_path / "talvo.so"))
        assert t.get_version() == expected

    def test_directory_in_place_of_the_file(self, tmp_path, monkeypatch):
        (tmp_path / "__version__.py").mkdir()
        monkeypatch.setattr(t, "__file__", str(tmp_path / "talvo.so"))
        assert t.get_version() == "2.0"

    @pytest.mark.parametrize("argv", [["--version"], ["show", "dbs", "-v"], ["nonsense", "-v"]])
    def test_version_line(self, run_talvo, argv):
        r = run_talvo(*argv)
        assert (r.returncode, r.stdout) == (0, "📦 Version: " + VERSION + "\n")

    def test_debug_line_comes_first(self, run_talvo):
        r = run_talvo("--debug", "--version")
        assert r.stdout.splitlines() == ["🐞 Debug mode enabled", "📦 Version: " + VERSION]

    def test_version_loads_no_driver_nor_parser(self, tmp_path):
        script = ("import sys; sys.argv = ['talvo', '-v']; import talvo.talvo as t\n"
                  "try: t.main()\nexcept SystemExit as e: print(e.code)\n"
                  "print(sorted(m for m in ('asyncpg', 'rich_argparse', 'argparse', 'getpass',"
                  " 'rich.traceback') if m in sys.modules))")
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                             cwd=tmp_path, check=True, env={"PATH": "/usr/bin"}).stdout
        assert out.splitlines()[-2:] == ["0", "[]"]


class TestMainExits:
    def test_no_arguments_prints_help_and_fails(self, run_talvo):
        r = run_talvo()
        assert r.returncode == 1 and "Available commands" in r.stdout

    @pytest.mark.parametrize("argv", [["-h"], ["show", "-h"], ["show", "tables", "--help"],
                                      ["drop", "user", "-h"]])
    def test_help_exits_zero(self, run_talvo, argv):
        r = run_talvo(*argv)
        assert r.returncode == 0 and "Usage:" in r.stdout and "\x1b[" not in r.stdout

    def test_top_level_help_texts(self, run_talvo):
        out = run_talvo("-h").stdout
        for text in ("Production-ready PostgreSQL management CLI tool with asyncpg",
                     "PostgreSQL server address (default: 127.0.0.1)",
                     "PostgreSQL server port (default: 5432)", "Show database information",
                     "Optional config file (*.env, *.ini, *.toml, *.json, *.yml/yaml)"):
            assert text in out

    @pytest.mark.parametrize("argv, problem", [
        (["describe"], "-t/--table"), (["--port", "x", "show", "dbs"], "invalid int value"),
        (["show", "dbs", "--port", "5"], "unrecognized arguments"),
        (["show", "nothing"], "invalid choice"), (["drop", "database", "-ul", "1"], "-ul"),
    ])
    def test_grammar_errors(self, run_talvo, argv, problem):
        r = run_talvo(*argv)
        assert r.returncode == 2 and r.stdout == ""
        assert "Usage:" in r.stderr and "talvo" in r.stderr and problem in r.stderr


def parse(*argv):
    return t.setup_argument_parser().parse_args(list(argv))


class TestGrammar:
    @pytest.mark.parametrize("argv, expected", [
        (["show", "dbs"], {"command": "show", "show_command": "dbs", "CONFIG_FILE": None}),
        (["f.env", "show", "tables", "-d", "s"], {"CONFIG_FILE": "f.env", "database": "s"}),
        (["f.env", "-H", "h", "--port=7", "show", "dbs"],
         {"CONFIG_FILE": "f.env", "hostname": "h", "port": 7, "show_command": "dbs"}),
        (["f.env"], {"CONFIG_FILE": "f.env", "command": None}),
        (["show"], {"command": "show", "show_command": None}),
        (["drop"], {"command": "drop", "drop_command": None}),
        (["--debug"], {"command": None, "debug": True, "port": 5432, "user": "postgres"}),
        (["-ul", "2", "show", "tables"], {"up_level": 0}),
        (["show", "tables", "-ul", "2"], {"up_level": 2}),
        (["-ul", "2", "show", "dbs"], {"up_level": 2}),
        (["--debug", "show", "tables"], {"debug": False}),
        (["--debug", "show", "users"], {"debug": True}),
        (["-dl", "3", "drop", "database"], {"down_level": 3}),
        (["query", "-q", "select 1"], {"query": "select 1", "limit": None, "readonly": False}),
        (["query", "--q", "x", "--lim", "5", "--read"], {"limit": 5, "readonly": True}),
        (["create", "u", "p", "db"],
         {"CONFIG": ["u", "p", "db"], "username": None, "password": None, "database": None}),
        (["create", "-p", "pw"], {"password": "pw", "CONFIG": [], "port": 5432}),
        (["drop", "user", "-u", "bob"], {"drop_command": "user", "username": "bob"}),
        (["show", "size", "-t", "orders"], {"table": "orders", "database": None}),
    ])
    def test_parses(self, argv, expected):
        args = vars(parse(*argv))
        assert {k: args.get(k, "<missing>") for k in expected} == expected

    @pytest.mark.parametrize("argv", [
        ["a.env", "b.env", "show"], ["describe"], ["query"], ["drop", "user"],
        ["--port", "5x", "show", "dbs"], ["show", "tables", "-ul", "up"], ["query", "-q", "x", "--limit", "1.5"],
        ["show", "dbs", "--port", "5"], ["drop", "database", "-dl", "1"], ["backup", "-p", "x"],
        ["show", "tables", "--d", "x"],
    ])
    def test_rejects(self, argv, capsys):
        with pytest.raises(SystemExit) as exit:
            parse(*argv)
        assert exit.value.code == 2

    def test_undefined_attributes_read_as_none(self):
        args = parse("show", "dbs")
        assert args.database is None and args.table is None and "database" not in args
        with pytest.raises(AttributeError):
            args._private

    def test_every_parser_uses_the_styled_formatter(self):
        from rich_argparse import RichHelpFormatter
        seen, todo = [], [t.setup_argument_parser()]
        while todo:
            p = todo.pop()
            seen.append(p)
            assert p.formatter_class is RichHelpFormatter, p.prog
            for action in p._actions:
                if isinstance(action, argparse._SubParsersAction):
                    todo.extend(action.choices.values())
        assert len(seen) == 1 + 6 + 6 + 2


class Recorder:
    def __init__(self):
        self.lines = []

    def __getattr__(self, severity):
        return lambda msg, color=None: self.lines.append((severity, msg))


@pytest.fixture
def main(clean_env, monkeypatch):
    """Runs main() in-process with the given settings found by discovery."""
    seen = {}

    def run(argv, settings=None):
        def parse_django_settings(config_file, max_depth_up, max_depth_down):
            seen["search"] = (config_file, max_depth_up, max_depth_down)
            return settings

        async def run_command(args, show_parser, drop_parser):
            seen.update(args=args, parsers=(show_parser.prog, drop_parser.prog))
        monkeypatch.setattr(t, "parse_django_settings", parse_django_settings, raising=False)
        monkeypatch.setattr(t, "run_command", run_command)
        monkeypatch.setattr(t, "logger", Recorder())
        monkeypatch.setattr(sys, "argv", ["talvo", *argv])
        assert t.main() is None
        return seen
    return run


class TestMain:
    def test_options_only(self, main):
        seen = main(["--debug"])
        assert seen["args"].command is None and seen["search"] == (None, 0, 1)
        assert t.logger.lines == [("info", "db_config:: None"), ("warning", "🐞 Debug mode enabled"),
                                  ("warning", "args.command: None"),
                                  ("debug", "check command_requires_superuser(args): False")]
        assert seen["parsers"] == ("talvo [CONFIG_FILE] show", "talvo [CONFIG_FILE] drop")

    def test_create_searches_only_here(self, main):
        assert main(["-P", "x", "create", "-ul", "3"])["search"] == (None, 0, 0)

    def test_discovered_settings_win(self, main):
        settings = {"database": "found", "host": "h2", "port": "6543", "password": "pw"}
        seen = main(["f.env", "-H", "h1", "show", "tables", "-d", "mine"], settings)
        args = seen["args"]
        assert seen["search"] == ("f.env", 0, 1)
        assert (args.database, args.hostname, args.port, args.passwd) == ("found", "h2", 6543, None)
        # The password is logged masked, one star a character.
        assert ("info", "db_config:: " + str(dict(settings, password="**"))) in t.logger.lines

    def test_empty_entries_keep_the_command_line(self, main):
        args = main(["--port", "7", "show", "dbs"], {"database": "", "host": "", "user": "u"})["args"]
        assert vars(args)["database"] is None and (args.hostname, args.port) == ("127.0.0.1", 7)

    def test_bad_port_in_settings_fails(self, main, capsys):
        with pytest.raises(SystemExit) as ended:
            main(["show", "dbs"], {"port": "54x"})
        assert ended.value.code == 1
        assert capsys.readouterr().out.splitlines()[-1] == \
            "❌ Error: invalid literal for int() with base 10: '54x'"

    def test_superuser_password_from_settings(self, main):
        assert main(["drop", "database"], {"password": "pw"})["args"].passwd == "pw"


INTERRUPT_SCRIPT = """
import asyncio, sys
import talvo.talvo as t
t.parse_django_settings = lambda *a, **k: None
async def show_databases(args):
    print("started", flush=True)
    try:
        await asyncio.sleep(60)
    finally:
        print("cleanup ran", flush=True)
t.show_databases = show_databases
sys.argv = ["talvo", "show", "dbs"]
t.main()
"""


def test_interrupt_cancels_the_running_command(tmp_path):
    import pexpect
    script = tmp_path / "interrupt.py"
    script.write_text(INTERRUPT_SCRIPT)
    child = pexpect.spawn(sys.executable, [str(script)], encoding="utf-8", timeout=20,
                          env={"PATH": "/usr/bin", "HOME": str(tmp_path), "TERM": "dumb"})
    child.expect("started")
    child.sendintr()
    child.expect("cleanup ran")
    child.expect("❌ Interrupted")
    child.expect(pexpect.EOF)
    child.close()
    assert "Traceback" not in child.before and child.exitstatus == 130
