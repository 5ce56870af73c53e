import argparse
import json
import os
import re
import subprocess
import sys

import pytest

import talvo.talvo as t

VERSION = re.search(r'^version\s*=\s*"([^"]+)"', open(
    os.path.join(os.path.dirname(t.__file__), "__version__.py")).read(), re.M).group(1)

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
