"""Driving talvo's handlers inside the test process.

`command_args` builds the record the grammar would give for a command;
`stand_ins` puts simple versions of routines that are not part of the
module yet onto it (only those missing), so handlers can run.
"""

import asyncio
import os
import sys
import types

import pytest

import talvo.talvo as t

# A handler's refusal for want of a database name, and the start of the line
# that follows it, saying where the settings were looked for.
REQUIRED_WITH_HINT = "❌ Database name required. Use -d/--database\n💡 Looked for "

TOP_LEVEL = dict(CONFIG_FILE=None, hostname="127.0.0.1", user="postgres", passwd=None,
                 port=5432, up_level=0, down_level=1, debug=False, version=False,
                 command=None, show_command=None, drop_command=None)

# What each command adds to the top-level attributes.
COMMAND_ATTRIBUTES = {
    ("show", "dbs"): {}, ("show", "users"): {}, ("show", "connections"): {},
    ("show", "tables"): dict(database=None),
    ("show", "indexes"): dict(database=None, table=None),
    ("show", "size"): dict(database=None, table=None),
    ("describe",): dict(database=None, table=None),
    ("query",): dict(database=None, query=None, readonly=False, limit=None),
    ("backup",): dict(database=None),
}


def command_args(pg, *words, **values):
    attrs = dict(TOP_LEVEL, hostname=pg.host, port=pg.port, user=pg.user, passwd=pg.password)
    attrs["command"] = words[0]
    if words[0] == "show":
        attrs["show_command"] = words[1]
    attrs.update(COMMAND_ATTRIBUTES[tuple(words)])
    attrs.update(values)
    return types.SimpleNamespace(**attrs)


def run(coroutine):
    return asyncio.run(coroutine)


# -- stand-ins for routines of other subsystems ------------------------------

def _rich_print(msg, color="#FFFFFF", bgcolor=None, bold=False, end="\n"):
    from rich.console import Console
    from rich.style import Style
    from rich.text import Text
    kwargs = {"color": color, "bold": bold}
    if bgcolor:
        kwargs["bgcolor"] = bgcolor
    Console().print(Text(msg, style=Style(**kwargs)), end=end)


def _parse_django_settings(settings_path=None, max_depth_up=0, max_depth_down=1):
    return None


def _get_db_config_or_args(args):
    return {"host": args.hostname, "port": args.port, "user": args.user,
            "password": args.passwd}


def _find_settings_recursive(filename, max_depth_up=0, max_depth_down=1, start_dir=None):
    path = os.path.join(os.getcwd(), filename)
    return path if os.path.exists(path) else None


class _Env:
    def __init__(self, data):
        self._data = data

    def keys(self):
        return self._data.keys()

    def get(self, key, default=None):
        return self._data.get(key, default)


def _envloader_module():
    module = types.ModuleType("talvo.envloader")

    def load_env(path):
        from dotenv import dotenv_values
        return _Env(dict(dotenv_values(path)))

    module.load_env = load_env
    return module


STAND_INS = {
    "rich_print": _rich_print,
    "parse_django_settings": _parse_django_settings,
    "get_db_config_or_args": _get_db_config_or_args,
    "find_settings_recursive": _find_settings_recursive,
}


def has_own(name):
    return hasattr(t, name) and not getattr(getattr(t, name), "_stand_in", False)


@pytest.fixture
def stand_ins(clean_env):
    monkeypatch = clean_env
    for name, fn in STAND_INS.items():
        if not hasattr(t, name):
            fn._stand_in = True
            monkeypatch.setattr(t, name, fn, raising=False)
    try:
        import talvo.envloader  # noqa: F401
    except ImportError:
        monkeypatch.setitem(sys.modules, "talvo.envloader", _envloader_module())
    monkeypatch.setenv("COLUMNS", "250")
    return monkeypatch


def table_rows(output):
    """The body rows of every rich table in `output`, as lists of cell texts."""
    rows = []
    for line in output.splitlines():
        if line.startswith("│") and line.endswith("│"):
            rows.append([cell.strip() for cell in line[1:-1].split("│")])
    return rows


def headers(output):
    """The header cells of the rich table in `output`."""
    for line in output.splitlines():
        if line.startswith("┃") and line.endswith("┃"):
            return [cell.strip() for cell in line[1:-1].split("┃")]
    raise AssertionError(f"no table header in:\n{output}")
