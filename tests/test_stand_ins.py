"""The configuration file loader, the INI reader and the colour logger."""
import logging
import os
import subprocess
import sys
import textwrap

import pytest

from talvo import colorlog
from talvo.envloader import load_env
from talvo.iniconfig import IniConfig

# (file name, content, expected mapping)
FORMATS = [
    (".env", 'USER=app\nPORT=5433\n', {"USER": "app", "PORT": "5433"}),
    ("prod.env",
     textwrap.dedent("""\
        # a comment line
        export DB_NAME=shop
        PASSWORD="p w#d"   # trailing comment
        SINGLE='$NOT_EXPANDED'
        EMPTY=
        """),
     {"DB_NAME": "shop", "PASSWORD": "p w#d", "SINGLE": "$NOT_EXPANDED", "EMPTY": ""}),
    ("settings.txt", "HOST=db\n", {"HOST": "db"}),
    # ${NAME} takes the file's value so far, then the environment's.
    ("vars.env",
     "HOME=/srv\nDATA=${HOME}/data\nLOG=${TALVO_UNSET:-/var/log}\nHOME=/opt\nNEXT=${HOME}${TALVO_UNSET}\n",
     {"HOME": "/opt", "DATA": "/srv/data", "LOG": "/var/log", "NEXT": "/opt"}),
    (".json", '{"engine": "postgresql", "port": 5432}', {"engine": "postgresql", "port": 5432}),
    ("config.json", '{"DATABASE_URL": "postgresql://u@h/d"}', {"DATABASE_URL": "postgresql://u@h/d"}),
    ("db.JSON", '{"a": [1, 2]}', {"a": [1, 2]}),
    (".yaml", "engine: postgres\nport: 5432\nnested:\n  a: 1\n",
     {"engine": "postgres", "port": 5432, "nested": {"a": 1}}),
    ("db.yml", "user: app\n", {"user": "app"}),
    ("empty.yaml", "", {}),
    ("db.toml", 'port = 5432\nuser = "app"\n[server]\nhost = "h"\n',
     {"port": 5432, "user": "app", "server": {"host": "h"}}),
    # Keys of every section in file order, the first occurrence winning,
    # case kept; [DEFAULT] is a section like the others; "%" is literal.
    ("db.ini",
     "[DEFAULT]\nTimeout = 5\n[main]\nUser = first\nPASSWORD = 50%off\n[other]\nUser = second\nuser = lower\n",
     {"Timeout": "5", "User": "first", "PASSWORD": "50%off", "user": "lower"}),
    ("setup.cfg", "[db]\nhost = h\n", {"host": "h"}),
]


@pytest.mark.parametrize("name,content,expected", FORMATS, ids=[f[0] for f in FORMATS])
def test_load_env_reads_each_format(tmp_path, monkeypatch, name, content, expected):
    monkeypatch.delenv("NOT_EXPANDED", raising=False)
    monkeypatch.delenv("TALVO_UNSET", raising=False)
    path = tmp_path / name
    path.write_text(content)
    cfg = load_env(str(path))
    assert cfg._data == expected
    assert list(cfg.keys()) == list(expected)
    first = next(iter(expected), None)
    if first is not None:
        assert cfg.get(first) == expected[first]
    assert cfg.get("NO_SUCH_KEY") is None
    assert cfg.get("NO_SUCH_KEY", "fallback") == "fallback"
    assert str(cfg._data) == str(expected)   # the loaded data is logged as a plain dict


MALFORMED = [
    (".json", '{"engine": '),
    ("config.json", '["not", "a", "mapping"]'),
    (".yaml", "engine: [unclosed\n"),
    ("list.yaml", "- a\n- b\n"),
    ("db.toml", "port = \n"),
    ("db.ini", "[database]\njust words\n"),
    ("dup.ini", "[a]\nx = 1\nx = 2\n"),
    (".env", "GOOD=1\nthis line is not a setting\n"),
]


@pytest.mark.parametrize("name,content", MALFORMED, ids=[m[0] + ":" + m[1][:12] for m in MALFORMED])
def test_load_env_malformed_file_names_the_file(tmp_path, name, content):
    path = tmp_path / name
    path.write_text(content)
    with pytest.raises(ValueError) as info:
        load_env(str(path))
    assert str(path) in str(info.value)


def test_load_env_unreadable_files_name_the_file(tmp_path):
    missing = tmp_path / "missing.env"
    with pytest.raises(OSError, match="missing.env"):
        load_env(str(missing))
    binary = tmp_path / ".env"
    binary.write_bytes(b"USER=\xff\xfe\n")
    with pytest.raises(ValueError, match=str(binary)):
        load_env(str(binary))


BOMBS = [
    # Each line doubles the one before: thirty lines would be a gigabyte.
    (".env", "V0=0123456789abcdef\n" + "".join(f"V{i}=${{V{i-1}}}${{V{i-1}}}\n" for i in range(1, 31))),
    # Nine anchors of nine aliases each: 9**9 values as a reader that follows
    # aliases sees them.
    ("compose.yaml", "a0: &a0 [x, x, x, x, x, x, x, x, x]\n" + "".join(
        f"a{i}: &a{i} [{', '.join(['*a' + str(i - 1)] * 9)}]\n" for i in range(1, 9))),
]


@pytest.mark.parametrize("name,content", BOMBS, ids=[b[0] for b in BOMBS])
def test_load_env_stops_a_file_that_outgrows_its_budget(tmp_path, name, content):
    path = tmp_path / name
    path.write_text(content)
    assert path.stat().st_size < 1024
    with pytest.raises(ValueError, match=f"{path}: its references expand past ") as info:
        load_env(str(path))
    assert info.value.skipped


def test_load_env_leaves_a_large_file_unread(tmp_path):
    path = tmp_path / ".env"
    path.write_text("A=1\n" + "# padding\n" * 110_000)
    with pytest.raises(ValueError, match="larger than 1048576 bytes") as info:
        load_env(str(path))
    assert info.value.skipped
    assert load_env(str(path), max_bytes=2 << 20).get("A") == "1"


@pytest.mark.parametrize("name,content,section,line", [
    (".env", "# c\nA=1\n\nB=2\n", None, 4),
    (".env", "A=1\nB=2\n", None, 2),
    ("app.properties", "a=1\n\nb : 2\n", None, 3),
    ("db.yaml", "top:\n  x: 1\n  b: 2\n", "top", 3),
    ("db.ini", "[s]\na = 1\n\nb = 2\n", "s", 4),
    ("dev.exs", 'import Config\n\nconfig :a, A.Repo,\n  x: 1,\n  b: "2#{x}",\n', "A.Repo", 5),
    ("knexfile.js", "module.exports = {\n  development: {  // dev\n    a: 1,\n    b: process.env.B || 'x'\n  }\n}\n",
     "development", 4),
    ("app.conf", "s {\n  a = 1 # one\n  list = [\n    x\n  ]\n  b = \"2\"\n}\n", "s", 6),
])
def test_load_env_knows_the_line_of_a_key(tmp_path, name, content, section, line):
    (tmp_path / name).write_text(content)
    cfg = load_env(str(tmp_path / name))
    container = cfg.document[section] if section else cfg.document
    assert cfg.lines[(id(container), "b" if section or name != ".env" else "B")] == line


def test_load_env_read_errors_name_the_file(tmp_path):
    # Opening works; reading fails with an I/O error.
    with pytest.raises(OSError, match=r"\[Errno 5\].*'/proc/self/mem'"):
        load_env("/proc/self/mem")
    bom = tmp_path / "bom.json"
    bom.write_text('\ufeff{"engine": "postgresql"}')
    assert load_env(str(bom)).get("engine") == "postgresql"


def run_python(code, **env):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("NO_LOGGING", "DEBUG", "FORCE_COLOR", "NO_COLOR", "TERM", "COLUMNS")}
    environment.update(env)
    return subprocess.run([sys.executable, "-P", "-c", textwrap.dedent(code)], cwd="/",
                          env=environment, capture_output=True, text=True, timeout=60)


def test_load_env_imports_only_the_parser_it_needs(tmp_path):
    (tmp_path / ".env").write_text("A=1\n")
    out = run_python(f"""
        import sys
        from talvo.envloader import load_env
        assert load_env({str(tmp_path / '.env')!r}).get("A") == "1"
        print(sorted(m for m in ("yaml", "tomllib", "configparser", "json") if m in sys.modules))
    """)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "[]"


def test_ini_config_values_and_missing_parts(tmp_path):
    ini = tmp_path / "talvo.ini"
    ini.write_text("[server]\nhost = db.local\nPort = 5433\npassword = 100%\n")
    config = IniConfig(str(ini))
    cases = [
        (("server", "host"), "db.local"),
        (("server", "Port"), "5433"),
        (("server", "port"), ""),          # keys are case-sensitive
        (("server", "password"), "100%"),
        (("server", "user"), ""),
        (("client", "host"), ""),
    ]
    assert [config.get_config(*q) for q, _ in cases] == [want for _, want in cases]
    assert IniConfig(str(tmp_path / "absent.ini")).get_config("server", "host") == ""


def test_ini_config_malformed_file_names_the_file(tmp_path):
    ini = tmp_path / "talvo.ini"
    ini.write_text("host = before any section\n[server]\nhost = a\nhost = b\n")
    with pytest.raises(ValueError, match=str(ini) + r".*line 4: key .host. given twice"):
        IniConfig(str(ini))


def test_ini_lines_before_the_first_section(tmp_path):
    ini = tmp_path / "app.ini"
    ini.write_text("; Gitea\nAPP_NAME = git\n[database]\nHOST = db:5433\n")
    cfg = load_env(str(ini))
    assert cfg.get("APP_NAME") == "git" and cfg.get("HOST") == "db:5433"
    assert cfg.document == {"APP_NAME": "git", "database": {"HOST": "db:5433"}}
    assert IniConfig(str(ini)).get_config("database", "HOST") == "db:5433"


def test_severities_follow_syslog_order():
    order = [logging.DEBUG, logging.INFO, colorlog.NOTICE, logging.WARNING, logging.ERROR,
             colorlog.ALERT, colorlog.EMERGENCY]
    assert order == sorted(order) and len(set(order)) == len(order)
    assert [logging.getLevelName(n) for n in (colorlog.NOTICE, colorlog.ALERT, colorlog.EMERGENCY)] \
        == ["NOTICE", "ALERT", "EMERGENCY"]


LOG_EVERY_SEVERITY = """
    import talvo.colorlog as c
    log = c.setup_logging(name="t", level=LEVEL)
    for severity in ("debug", "info", "notice", "warning", "error", "alert", "emergency"):
        getattr(log, severity)(severity + " line", color="#00FF7F")
    try:
        1 / 0
    except ZeroDivisionError:
        log.exception("exception line", color="#FF4500")
"""


def test_logger_is_silent_and_light_while_no_logging():
    out = run_python(LOG_EVERY_SEVERITY.replace("LEVEL", "10") + """
    import sys
    print([m for m in ("rich", "rich.logging", "rich.traceback", "pygments") if m in sys.modules])
    """, NO_LOGGING="1")
    assert out.returncode == 0, out.stderr
    assert out.stderr == ""
    assert out.stdout.strip() == "[]"


def test_silent_setup_does_not_import_rich_logging():
    out = subprocess.run(
        [sys.executable, "-P", "-X", "importtime", "-c",
         "import talvo.colorlog; talvo.colorlog.setup_logging(name='x', level=20)"],
        cwd="/", env={**os.environ, "NO_LOGGING": "1"}, capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    imported = {line.rsplit("|", 1)[-1].strip() for line in out.stderr.splitlines() if "|" in line}
    assert "talvo.colorlog" in imported
    assert not imported & {"rich.logging", "rich.traceback", "pygments"}


def test_logger_writes_every_severity_above_threshold_in_order():
    out = run_python(LOG_EVERY_SEVERITY.replace("LEVEL", "20"), COLUMNS="120")
    assert out.returncode == 0, out.stderr
    lines = [line for line in out.stderr.splitlines() if " line" in line]
    expected = [("INFO", "info"), ("NOTICE", "notice"), ("WARNING", "warning"), ("ERROR", "error"),
                ("ALERT", "alert"), ("EMERGENCY", "emergency"), ("ERROR", "exception")]
    assert len(lines) == len(expected), out.stderr
    for line, (level, word) in zip(lines, expected):
        assert level in line and word + " line" in line
    assert "debug line" not in out.stderr
    assert "ZeroDivisionError" in out.stderr    # exception() adds the trace


def test_logger_colours_messages_on_a_terminal():
    code = LOG_EVERY_SEVERITY.replace("LEVEL", "20")
    coloured = run_python(code, FORCE_COLOR="1", COLORTERM="truecolor")
    assert "\x1b[38;2;0;255;127m" in coloured.stderr
    plain = run_python(code)
    assert "\x1b[" not in plain.stderr


def test_print_exception_prints_the_trace():
    out = run_python("""
        import talvo.colorlog as c
        def fail():
            raise KeyError("missing key")
        try:
            fail()
        except KeyError as e:
            c.print_exception(e)
    """, COLUMNS="120")
    assert out.returncode == 0, out.stderr
    assert "Traceback" in out.stderr and "fail" in out.stderr and "KeyError" in out.stderr
