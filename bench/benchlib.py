"""Helpers the benchmarks share: a clean environment for talvo, a project
directory whose .env points at a throwaway server, psql's command line, and
timing one child process with its peak memory. Each benchmark is a script
of its own that imports this file from beside it."""

import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

from pgcluster import Cluster  # noqa: E402,F401

# Variables that would change what talvo does or how it prints.
DROPPED = {"USER", "HOST", "PORT", "PASSWORD", "DATABASE", "DB_NAME", "DB", "DEBUG", "LOGGING",
           "TRACEBACK", "NO_LOGGING", "PGPASSFILE", "PGPASSWORD", "PGHOST", "PGPORT", "PGUSER",
           "PGDATABASE", "COLUMNS", "TERM", "PAGER"}


def clean_environment(home):
    env = {k: v for k, v in os.environ.items() if k not in DROPPED}
    env.update(HOME=home, COLUMNS="200", PYTHONIOENCODING="utf-8")
    return env


def write_project(directory, cluster, database):
    """A .env in `directory` that points talvo at `database` on `cluster`."""
    with open(os.path.join(directory, ".env"), "w") as f:
        f.write(f"POSTGRES_HOST={cluster.host}\nPOSTGRES_PORT={cluster.port}\n"
                f"POSTGRES_USER={cluster.user}\nPOSTGRES_PASSWORD={cluster.password}\n"
                f"POSTGRES_DB={database}\n")


def psql_command(cluster, database):
    return [os.path.join(cluster.bindir, "psql"), "-X", "-h", cluster.host, "-p", str(cluster.port),
            "-U", cluster.user, "-d", database]


def psql_environment(env, cluster):
    return dict(env, PGPASSWORD=cluster.password)


def run_once(argv, cwd, env, output=None):
    """Wall time (s) and peak resident memory (MiB) of one child process.
    Its standard output goes to the file `output` (truncated first), or
    nowhere."""
    out = open(output, "wb") if output else subprocess.DEVNULL
    try:
        started = time.perf_counter()
        child = subprocess.Popen(argv, cwd=cwd, env=env, stdout=out, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - started
    finally:
        if output:
            out.close()
    err = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise RuntimeError(f"{' '.join(argv[:3])} ... failed ({code}): {err.strip()}")
    return elapsed, usage.ru_maxrss / 1024


def talvo_executable():
    exe = shutil.which("talvo", path=os.path.dirname(sys.executable)) or shutil.which("talvo")
    if exe is None:
        sys.exit("talvo is not installed beside this interpreter")
    return exe


def interleaved(commands, runs, cwd):
    """Runs every command once per round, `runs` rounds, so that drift hits
    all alike. `commands`: name -> (argv, env, output file or None). Gives
    name -> (median seconds, highest peak MiB)."""
    samples = {name: [] for name in commands}
    for _ in range(runs):
        for name, (argv, env, output) in commands.items():
            samples[name].append(run_once(argv, cwd, env, output))
    return {name: (statistics.median(t for t, _ in s), max(m for _, m in s))
            for name, s in samples.items()}


def goal_line(label, value, limit, rss=None, rss_limit=None, unit="x"):
    met = value <= limit and (rss is None or rss_limit is None or rss <= rss_limit)
    memory = ""
    if rss is not None:
        memory = f", peak {rss:.0f} MiB" + (f" (goal < {rss_limit})" if rss_limit else "")
    shown = f"{value:.2f}x" if unit == "x" else f"{value:.0f} {unit}"
    return f"  {label}: {shown} (goal <= {limit}{'' if unit == 'x' else ' ' + unit}){memory}: " \
           + ("met" if met else "MISSED")
