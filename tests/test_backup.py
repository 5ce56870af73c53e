"""The backup command line."""

import re
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
    assert " -U ad min -d from_files " in lines[3]  # nothing quoted


def test_backup_without_name(pg, stand_ins, capsys):
    t.backup_database(command_args(pg, "backup"))
    assert capsys.readouterr().out.startswith(REQUIRED_WITH_HINT)
