"""Long output on a terminal goes through $PAGER, after the spinner is gone;
output that fits, PAGER= and pipes do without one; in a pipe or a file no
value is cut, whatever COLUMNS says."""
import os
import re
import subprocess

import pytest

from conftest import talvo_environment, talvo_executable
from inprocess import table_rows
from tmux_terminal import PROMPT, start_bash, stop

ESCAPES = re.compile(r"\x1b\[[0-9;]*m")

TALL = "select g from generate_series(1, 60) g, pg_sleep(1)"


@pytest.fixture
def shell(tmp_path):
    """shell(PAGER=...) is bash in an 80 by 24 tmux window, with that pager."""
    started = []

    def start(**variables):
        (tmp_path / "home").mkdir(exist_ok=True)
        env = talvo_environment(tmp_path / "home", COLUMNS=None, PS1=PROMPT + " ",
                                PATH=os.path.dirname(talvo_executable()) + os.pathsep
                                + os.environ["PATH"], **variables)
        started.append(start_bash(tmp_path, env, width=80, height=24))
        return started[-1]

    yield start
    for t in started:
        stop(t)


def query(pg, sql):
    return f"talvo -H {pg.host} --port {pg.port} -P {pg.password} query -d postgres -q '{sql}'"


def recording_pager(tmp_path):
    """A pager that keeps what it is given, and the screen as it found it."""
    return (f"cat > {tmp_path / 'paged.txt'}; "
            f"tmux capture-pane -p > {tmp_path / 'screen_at_start.txt'}")


def test_a_tall_table_goes_through_the_pager_once_the_spinner_is_gone(pg, shell, tmp_path):
    t = shell(PAGER=recording_pager(tmp_path))
    t.type(query(pg, TALL), "Enter")
    t.wait_for(lambda lines: any("running query" in line for line in lines))
    final = t.wait_for(lambda lines: lines[-1] == PROMPT)
    paged = (tmp_path / "paged.txt").read_text()
    assert "\x1b[36m" in paged  # the terminal's colours, for less -R
    assert [r[0] for r in table_rows(ESCAPES.sub("", paged))] == [str(g) for g in range(1, 61)]
    assert "running query" not in (tmp_path / "screen_at_start.txt").read_text()
    assert not any(line.startswith("│") for line in final)


def test_a_wide_table_goes_through_the_pager(pg, shell, tmp_path):
    t = shell(PAGER=recording_pager(tmp_path))
    t.type(query(pg, "select repeat(chr(97), 100) as wide"), "Enter")
    t.wait_for(lambda lines: lines[-1] == PROMPT)
    assert "a" * 100 in (tmp_path / "paged.txt").read_text()


def test_quitting_less_early_ends_the_command_normally(pg, shell, tmp_path):
    t = shell(PAGER=None, LESS=None)
    t.type(query(pg, "select g, repeat(chr(120), 60) from generate_series(1, 5000) g")
           + " --limit 5000", "Enter")
    t.wait_for(lambda lines: any(line.startswith("│ 1 ") for line in lines))
    t.type("q")
    t.wait_for(lambda lines: lines[-1] == PROMPT)
    t.type("echo status=$?", "Enter")
    lines = t.wait_for(lambda lines: any(line.startswith("status=") for line in lines))
    assert "status=0" in lines
    assert pg.wait_until_no_connections() == 0


@pytest.mark.parametrize("sql, pager", [("select 1 as one", "recording"), (TALL, "")])
def test_no_pager_for_what_fits_nor_with_an_empty_pager(pg, shell, tmp_path, sql, pager):
    t = shell(PAGER=recording_pager(tmp_path) if pager else "")
    t.type(query(pg, sql), "Enter")
    final = t.wait_for(lambda lines: lines[-1] == PROMPT)
    assert not (tmp_path / "paged.txt").exists()
    assert final[-2].startswith("└")


@pytest.mark.parametrize("columns", [None, "40"])
def test_nothing_is_cut_in_a_pipe(pg, tmp_path, columns):
    long_value = "alpha " * 50
    p = subprocess.run(
        [talvo_executable(), "-H", pg.host, "--port", str(pg.port), "-P", pg.password, "query",
         "-d", "postgres", "-q", f"select '{long_value}' as long, 'short' as s"],
        cwd=tmp_path, capture_output=True, text=True, timeout=60,
        env=talvo_environment(tmp_path, COLUMNS=columns, PAGER="false"))
    assert p.returncode == 0, p.stderr
    assert "…" not in p.stdout
    assert table_rows(p.stdout) == [[long_value.strip(), "short"]]
