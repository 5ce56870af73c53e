"""Shell completion as a person meets it: a real shell inside tmux loads the
script `talvo --completion SHELL` prints, keys are typed with send-keys and
the screen is read with capture-pane."""

import os
import subprocess
import time
import types
import uuid

import pytest

from conftest import talvo_environment, talvo_executable, write_env_file
from tmux_terminal import PROMPT, Terminal
from pgcluster import free_port

REPORTS = ("dbs", "tables", "users", "connections", "indexes", "size")

# How each shell starts bare and loads the script.
SHELLS = {
    "bash": (["bash", "--norc", "--noprofile"], 'eval "$(talvo --completion bash)"'),
    "zsh": (["zsh", "-f"], 'autoload -U compinit && compinit -u && eval "$(talvo --completion zsh)"'),
}



@pytest.fixture
def terminal(tmp_path):
    """terminal("bash", cwd) is that shell in tmux with talvo's completion loaded."""
    sockets = []

    def start(shell, cwd):
        argv, load = SHELLS[shell]
        socket = tmp_path / f"tmux-{len(sockets)}"
        env = talvo_environment(tmp_path / "home", COLUMNS=None, PS1=PROMPT + " ",
                                PATH=os.path.dirname(talvo_executable()) + os.pathsep
                                + os.environ.get("PATH", ""))
        (tmp_path / "home").mkdir(exist_ok=True)
        subprocess.run(["tmux", "-S", str(socket), "-f", os.devnull, "new-session", "-d",
                        "-x", "160", "-y", "40", "-c", str(cwd), *argv], env=env, check=True)
        sockets.append(socket)
        t = Terminal(socket, cwd)
        t.wait_for(lambda lines: lines == [PROMPT])
        t.type(load, "Enter")
        t.fresh_line()
        return t

    yield start
    for socket in sockets:
        subprocess.run(["tmux", "-S", str(socket), "kill-server"], capture_output=True)


@pytest.fixture(scope="module")
def shop(pg):
    """A database with two tables whose names share no first letter."""
    name = "talvo_shop_" + uuid.uuid4().hex[:8]
    pg.psql(f"CREATE DATABASE {name}")
    pg.psql("CREATE TABLE orders (id int); CREATE TABLE customers (id int)", database=name)
    yield name
    pg.psql(f"DROP DATABASE {name}")


def words(lines):
    return {word for line in lines for word in line.split()}


@pytest.mark.parametrize("shell", SHELLS)
def test_commands_and_reports_come_from_the_grammar(terminal, tmp_path, shell):
    t = terminal(shell, tmp_path)
    t.type("talvo sh", "Tab")
    t.wait_for(lambda lines: lines[-1] == PROMPT + " talvo show")
    t.fresh_line()
    t.type("talvo show ", "Tab", "Tab")
    t.wait_for(lambda lines: words(lines) >= set(REPORTS))


@pytest.mark.parametrize("shell", SHELLS)
def test_tables_and_databases_from_the_project_server(terminal, tmp_path, pg, shop, shell):
    project = tmp_path / "project"
    project.mkdir()
    write_env_file(project, pg, database=shop)
    t = terminal(shell, project)
    t.type("talvo describe -t ", "Tab", "Tab")
    t.wait_for(lambda lines: {"orders", "customers"} <= words(lines[1:]))
    t.fresh_line()
    t.type("talvo show tables -d ", "Tab", "Tab")
    t.wait_for(lambda lines: {shop, "postgres"} <= words(lines[1:]))


@pytest.mark.parametrize("shell", SHELLS)
def test_tab_stays_out_of_the_way_without_a_server(terminal, tmp_path, pg, shell):
    project = tmp_path / "project"
    project.mkdir()
    # Where the project's server was before it stopped: nothing listens there.
    write_env_file(project, types.SimpleNamespace(host=pg.host, port=free_port(), user=pg.user,
                                                  password=pg.password))
    empty = tmp_path / "empty"
    empty.mkdir()
    for cwd, line in ((project, "talvo show tables -d "), (empty, "talvo describe -t ")):
        t = terminal(shell, cwd)
        started = time.monotonic()
        t.type(line, "Tab", "Tab")
        t.type("X")
        # X arrives after both TABs are answered: nothing added, nothing printed.
        t.wait_for(lambda lines: lines[-1:] == [PROMPT + " " + line + "X"])
        assert time.monotonic() - started < 3
        assert t.screen() == [PROMPT + " " + line + "X"]


@pytest.mark.parametrize("argv, status, expected", [
    (["--completion", "fish"], 0, "complete --command talvo"),
    (["-H", "db", "--completion=bash"], 0, "-F _python_argcomplete talvo"),
    (["--completion", "tcsh"], 2, "invalid choice: 'tcsh'"),
    (["show", "dbs", "--completion", "bash"], 2, "unrecognized arguments: --completion bash"),
])
def test_the_script_is_asked_for_at_the_top_level(run_talvo, argv, status, expected):
    r = run_talvo(*argv)
    assert r.returncode == status and expected in (r.stdout if status == 0 else r.stderr)


# Runs talvo's entry point as the completion script does and writes the
# modules it imported beside the words it offered.
IMPORTS_AFTER = r'''
import atexit, sys
path = sys.argv[1]
atexit.register(lambda: open(path, "w").write("\n".join(sys.modules)))
sys.argv = ["talvo"]
import talvo.talvo
talvo.talvo.main()
'''


def press_tab(tmp_path, line, cwd, shell="bash"):
    """The words one TAB offers for `line`, and the modules it imported."""
    offered, imported = tmp_path / "offered", tmp_path / "imported"
    env = talvo_environment(tmp_path, _ARGCOMPLETE="1", _ARGCOMPLETE_SHELL=shell,
                            _ARGCOMPLETE_SUPPRESS_SPACE="1", _ARGCOMPLETE_IFS="\v", COMP_LINE=line,
                            COMP_POINT=str(len(line)), _ARGCOMPLETE_STDOUT_FILENAME=str(offered))
    python = os.path.join(os.path.dirname(talvo_executable()), "python")
    subprocess.run([python, "-c", IMPORTS_AFTER, str(imported)], cwd=cwd, env=env, check=True,
                   timeout=30)
    return offered.read_text().split("\v"), set(imported.read_text().split())


def test_words_and_options_need_neither_asyncio_nor_rich(tmp_path):
    for line, word in (("talvo sh", "show"), ("talvo show tables --", "--database")):
        words, imported = press_tab(tmp_path, line, tmp_path)
        assert word in words
        assert not {"asyncio", "rich", "rich_argparse", "asyncpg"} & imported


def test_names_that_need_escaping_are_escaped(tmp_path, pg, shop):
    pg.psql('CREATE TABLE "line items" (id int); CREATE TABLE plain_items (id int)', database=shop)
    project = tmp_path / "project"
    project.mkdir()
    write_env_file(project, pg, database=shop)
    words, _ = press_tab(tmp_path, "talvo describe -t ", project)
    assert sorted(words) == ["customers", "line\\ items", "orders", "plain_items"]
    words, _ = press_tab(tmp_path, "talvo describe -t p", project, shell="zsh")
    assert words == ["plain_items:table"]
