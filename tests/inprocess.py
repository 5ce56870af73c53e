"""Driving talvo's handlers inside the test process.

`command_args` builds the record the grammar would give for a command;
`stand_ins` gives the handlers a clean environment and a wide console.
"""

import asyncio
import types

import pytest


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


@pytest.fixture
def stand_ins(clean_env):
    """The clean environment of clean_env, with a console wide enough that
    no table or message line wraps."""
    clean_env.setenv("COLUMNS", "250")
    return clean_env


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
