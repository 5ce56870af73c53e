"""Settings file searches and the config file lookup, on real directory trees."""
import json
import os
import subprocess
import sys
import tempfile
import textwrap

import pytest

import talvo.talvo as talvo


class Recorder:
    """Stands in for the module's logger and keeps every line with its level."""

    def __init__(self):
        self.lines = []

    def __getattr__(self, level):
        return lambda msg, **kw: self.lines.append((level, msg))


@pytest.fixture
def log(monkeypatch):
    recorder = Recorder()
    monkeypatch.setattr(talvo, "logger", recorder, raising=False)
    return recorder


def touch(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "w").close()
    return path


def test_relative_start_path_gives_an_absolute_result(log, tmp_path, monkeypatch):
    touch(tmp_path / "proj" / "app" / "settings.py")
    monkeypatch.chdir(tmp_path)
    found = talvo.find_settings_recursive("proj")
    assert found == str(tmp_path.resolve() / "proj" / "app" / "settings.py")
    assert isinstance(found, str)
    # The older search keeps the path as it was given.
    assert talvo.find_settings_recursive1("proj") == os.path.join("proj", "app", "settings.py")
    monkeypatch.chdir(tmp_path / "proj")
    assert talvo.find_settings_recursive1() == os.path.join(os.getcwd(), "app", "settings.py")


def test_symbolic_links_are_followed(log, tmp_path):
    target = tmp_path / "real"
    touch(target / "config.json")
    start = tmp_path / "start"
    start.mkdir()
    os.symlink(target, start / "linked")
    assert talvo.find_settings_recursive(start, filename="config.json") == str(
        start / "linked" / "config.json")
    # The start path itself is resolved through the link.
    assert talvo.find_settings_recursive(start / "linked", filename="config.json") == str(
        target / "config.json")
    os.symlink(target / "config.json", start / "settings.py")
    assert talvo.find_settings_recursive(start, max_depth_down=0) == str(start / "settings.py")


def test_links_inside_one_discovery(log, tmp_path):
    start = tmp_path / "start"
    start.mkdir()
    os.symlink("loop", start / "loop")
    os.symlink(tmp_path / "nowhere", start / "dangling")
    touch(tmp_path / "shared" / ".yaml")
    os.symlink(tmp_path / "shared", start / "shared")
    os.symlink(tmp_path / "shared" / ".yaml", start / "yaml-link")
    # The links are tested once, for ".env", and answered again for ".yaml".
    assert talvo.find_any_config(str(start)) == str(start / "shared" / ".yaml")
    os.symlink(tmp_path / "shared" / ".yaml", start / ".json")
    assert talvo.find_any_config(str(start)) == str(start / ".json")


def test_symbolic_link_loops_are_entered_once(log, tmp_path):
    start = tmp_path / "start"
    touch(start / "z" / "deep" / "settings.py")
    (start / "a" / "b").mkdir(parents=True)
    os.symlink(start, start / "a" / "b" / "top")
    os.symlink("..", start / "a" / "up")
    os.symlink(".", start / "a" / "b" / "here")
    os.symlink(start / "a", start / "z" / "side")
    # Every path round a loop would be tried a million levels deep.
    found = str(start / "z" / "deep" / "settings.py")
    assert talvo.find_settings_recursive(start, max_depth_down=1_000_000) == found
    assert talvo.find_settings_recursive1(str(start), max_depth=1_000_000) == found
    assert talvo.find_settings_recursive(start / "a" / "b", max_depth_up=2,
                                         max_depth_down=1_000_000, filename="none") is None


# A walk of the whole filesystem, /proc and its links back to / and to every
# process's directories included; it takes some seconds.
def test_walk_from_the_root_ends(log):
    assert talvo.find_settings_recursive("/", max_depth_down=1_000_000,
                                         filename="talvo-no-such-file.x") is None


# The discovery from / with no depth limit to speak of ends, whatever it
# finds on this machine: the connection is tried next.
def test_console_script_from_the_root_ends(run_talvo):
    proc = run_talvo("-dl", "1000000", "--port", "1", "show", "dbs", cwd="/", timeout=600)
    assert "🔍 Using host=" in proc.stdout, proc.stdout + proc.stderr
    assert "Traceback" not in proc.stderr


def test_names_that_are_not_utf8_round_trip(log, tmp_path):
    base = os.fsencode(tmp_path)
    odd = base + b"/caf\xe9 \xff"
    touch(os.fsdecode(odd + b"/deep\x80/settings.py"))
    expected = os.fsdecode(odd + b"/deep\x80/settings.py")
    assert talvo.find_settings_recursive(os.fsdecode(base)) == expected
    assert talvo.find_settings_recursive1(os.fsdecode(base)) == expected
    assert talvo.find_settings_recursive(os.fsdecode(odd)) == expected
    assert ("warning", "start_path: " + os.fsdecode(odd)) in log.lines
    assert ("notice", "search down result [0]: " + expected) in log.lines
    assert os.path.isfile(expected)


@pytest.mark.parametrize("files, down, expected", [
    ([".env", ".yaml"], 1, ".env"),
    ([".json", "sub/.env"], 1, "sub/.env"),
    ([".json", "sub/deeper/.env"], 1, ".json"),
    ([".yaml", "sub/.json"], 1, "sub/.json"),
    (["app.env", "config.yaml", "x.json", "sub/.env.local"], 3, None),
    ([], 1, None),
])
def test_config_lookup_tries_names_in_order(log, tmp_path, files, down, expected):
    start = tmp_path / "start"
    start.mkdir()
    for name in files:
        touch(start / name)
    found = talvo.find_any_config(str(start), max_depth_down=down)
    assert found == (str(start / expected) if expected else None)


def test_config_lookup_reaches_ancestors(log, tmp_path):
    touch(tmp_path / "a" / ".yaml")
    start = tmp_path / "a" / "b" / "c"
    start.mkdir(parents=True)
    assert talvo.find_any_config(str(start)) is None
    assert talvo.find_any_config(str(start), max_depth_up=1) == str(tmp_path / "a" / ".yaml")


def test_config_lookup_calls_the_module_search(monkeypatch, tmp_path):
    calls = []

    def replacement(*args, **kwargs):
        calls.append((args, kwargs))
        return "" if kwargs["filename"] == ".env" else "/chosen"

    monkeypatch.setattr(talvo, "find_settings_recursive", replacement)
    assert talvo.find_any_config("somewhere", 2, 3) == "/chosen"
    assert calls == [
        (("somewhere",), {"filename": ".env", "max_depth_up": 2, "max_depth_down": 3}),
        (("somewhere",), {"filename": ".json", "max_depth_up": 2, "max_depth_down": 3}),
    ]


def test_log_lines_and_their_levels(log, tmp_path):
    start = tmp_path / "a" / "b"
    start.mkdir(parents=True)
    assert talvo.find_settings_recursive(str(start), max_depth_up=1, max_depth_down=2,
                                         filename="nothing-here") is None
    a = str(tmp_path / "a")
    assert log.lines == [
        ("warning", "max_depth_up: 1"),
        ("warning", "max_depth_down: 2"),
        ("warning", "start_path: " + str(start)),
        ("warning", "start_path: " + str(start)),
        ("notice", "search down result [0]: None"),
        ("debug", "current: " + a),
        ("debug", "current.parent: " + str(tmp_path)),
        ("notice", "search down result [1]: None"),
        ("notice", "search down result [1]: None"),
    ]
    log.lines.clear()
    touch(start / "settings.py")
    talvo.find_settings_recursive(str(start))
    assert log.lines[-1] == ("notice", "search down result [0]: " + str(start / "settings.py"))
    log.lines.clear()
    talvo.find_settings_recursive1(str(start))
    assert log.lines == []


def test_root_is_never_scanned_upward(log):
    assert talvo.find_settings_recursive("/", max_depth_up=3, max_depth_down=0,
                                         filename="no-such-file.x") is None
    assert log.lines[-3:] == [
        ("notice", "search down result [0]: None"),
        ("debug", "current: /"),
        ("debug", "current.parent: /"),
    ]


def test_direct_searches_see_the_filesystem_afresh(log, tmp_path):
    assert talvo.find_settings_recursive(str(tmp_path), filename=".env") is None
    assert talvo.find_any_config(str(tmp_path)) is None
    touch(tmp_path / "sub" / ".env")
    assert talvo.find_settings_recursive(str(tmp_path), filename=".env") == str(tmp_path / "sub" / ".env")
    assert talvo.find_settings_recursive1(str(tmp_path), filename=".env") == str(tmp_path / "sub" / ".env")
    assert talvo.find_any_config(str(tmp_path)) == str(tmp_path / "sub" / ".env")


def test_missing_start_directory_finds_nothing(log, tmp_path):
    assert talvo.find_settings_recursive(str(tmp_path / "gone")) is None
    assert talvo.find_settings_recursive1(str(tmp_path / "gone")) is None
    touch(tmp_path / "file")
    assert talvo.find_settings_recursive(str(tmp_path / "file")) is None


# Permission failures need an unprivileged process: as root the test drops to
# "nobody" after everything it needs is imported.
PERMISSION_SCRIPT = textwrap.dedent("""
    import json, os, sys
    import talvo.talvo as talvo

    class Quiet:
        def __getattr__(self, level):
            return lambda *a, **k: None

    talvo.logger = Quiet()
    if os.geteuid() == 0:
        os.setgid(65534)
        os.setuid(65534)
    root = sys.argv[1]
    out = {}

    def attempt(key, fn, *args, **kwargs):
        try:
            out[key] = fn(*args, **kwargs)
        except OSError as e:
            out[key] = [type(e).__name__, e.errno, e.filename]

    for round in ("first", "again"):
        attempt("noexec " + round, talvo.find_settings_recursive, root + "/noexec")
        attempt("noexec1 " + round, talvo.find_settings_recursive1, root + "/noexec")
        attempt("holder " + round, talvo.find_settings_recursive, root + "/holder")
        attempt("holder1 " + round, talvo.find_settings_recursive1, root + "/holder")
        attempt("noread " + round, talvo.find_settings_recursive, root + "/noread")
        attempt("noread-deep " + round, talvo.find_settings_recursive, root + "/noread",
                filename="deep.py")
        attempt("config " + round, talvo.find_any_config, root + "/noexec")
    print(json.dumps(out))
""")


def test_permission_failures(tmp_path):
    root = tempfile.mkdtemp(prefix="talvo-perm-")
    try:
        os.chmod(root, 0o755)
        touch(root + "/noexec/settings.py")
        touch(root + "/holder/locked/settings.py")
        touch(root + "/noread/settings.py")
        touch(root + "/noread/inner/deep.py")
        os.chmod(root + "/noexec", 0o644)           # listable, no lookups
        os.chmod(root + "/holder/locked", 0o644)
        os.chmod(root + "/noread", 0o311)           # lookups, no listing
        proc = subprocess.run([sys.executable, "-c", PERMISSION_SCRIPT, root],
                              capture_output=True, text=True, cwd="/")
        assert proc.returncode == 0, proc.stderr
        out = json.loads(proc.stdout)
    finally:
        for d in ("noexec", "holder/locked", "noread"):
            os.chmod(os.path.join(root, d), 0o755)
        subprocess.run(["rm", "-rf", root])
    for round in ("first", "again"):
        denied = ["PermissionError", 13, root + "/noexec/settings.py"]
        assert out["noexec " + round] == denied
        assert out["config " + round] == ["PermissionError", 13, root + "/noexec/.env"]
        assert out["noexec1 " + round] is None
        # The failing test inside "locked" is absorbed by its parent's listing.
        assert out["holder " + round] is None
        assert out["holder1 " + round] is None
        assert out["noread " + round] == root + "/noread/settings.py"
        assert out["noread-deep " + round] is None
