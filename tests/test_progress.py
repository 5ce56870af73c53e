"""Progress while waiting: a spinner on a terminal's standard error, erased
before the result; nothing of it in a pipe."""
import os
import re
import subprocess

import pytest

from conftest import talvo_environment, talvo_executable
from tmux_terminal import PROMPT, start_bash, stop

# Cursor movement, line erasing and carriage returns: what a spinner draws with.
DRAWING = re.compile(r"\r|\x1b\[[0-9;?]*[ABCDGHJKlh]")


@pytest.fixture
def shell(tmp_path):
    env = talvo_environment(tmp_path / "home", COLUMNS=None, PS1=PROMPT + " ",
                            PATH=os.path.dirname(talvo_executable()) + os.pathsep
                            + os.environ["PATH"])
    (tmp_path / "home").mkdir(exist_ok=True)
    t = start_bash(tmp_path, env)
    yield t
    stop(t)


def server(pg):
    return f"-H {pg.host} --port {pg.port} -P {pg.password}"


def test_spinner_while_a_query_runs_then_only_the_result(pg, shell):
    shell.type(f"talvo {server(pg)} query -d postgres -q 'select pg_sleep(2) as slept'", "Enter")
    shell.wait_for(lambda lines: any("running query" in line for line in lines))
    final = shell.wait_for(lambda lines: lines[-1] == PROMPT)
    assert not any("running query" in line for line in final)
    assert any("slept" in line for line in final) and any("NULL" in line for line in final)


@pytest.mark.parametrize("argv", [["query", "-d", "postgres", "-q", "select pg_sleep(1)"],
                                  ["show", "dbs"]])
def test_nothing_drawn_into_a_pipe(pg, tmp_path, argv):
    p = subprocess.run([talvo_executable(), "-H", pg.host, "--port", str(pg.port), "-P",
                        pg.password, *argv], cwd=tmp_path, capture_output=True, text=True,
                       env=talvo_environment(tmp_path), timeout=60)
    assert p.returncode == 0, p.stdout + p.stderr
    assert not DRAWING.search(p.stdout) and not DRAWING.search(p.stderr)
    assert "running query" not in p.stdout + p.stderr


def test_ctrl_c_during_the_wait(pg, shell):
    shell.type(f"talvo {server(pg)} query -d postgres -q 'select pg_sleep(30)'", "Enter")
    shell.wait_for(lambda lines: any("running query" in line for line in lines))
    shell.type("", "C-c")
    final = shell.wait_for(lambda lines: lines[-1] == PROMPT)
    assert final[-2] == "❌ Interrupted"
    assert not any("running query" in line for line in final)
    assert pg.wait_until_no_connections() == 0
