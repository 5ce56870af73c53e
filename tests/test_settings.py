"""Settings discovery: loading Django settings, connection URLs, extraction from
settings and configuration files with the process-wide cache, alias lookup and
the effective connection configuration. Every test works on real files in its
own directory."""
import json
import os
import subprocess
import sys
import textwrap
import types
from pathlib import Path

import pytest

import talvo.talvo as t
from talvo.envloader import ConfigFileError

INFO = "#00CED1"


class RecordingLogger:
    def __init__(self):
        self.lines = []          # (level, text)
        self.handled = []        # exception type being handled at each exception() call

    def _rec(level):
        def method(self, msg, *args, color=None, **kwargs):
            if level == "exception":
                self.handled.append(sys.exc_info()[0])
            self.lines.append((level, str(msg)))
        return method

    debug = _rec("debug")
    info = _rec("info")
    notice = _rec("notice")
    warning = _rec("warning")
    error = _rec("error")
    alert = _rec("alert")
    emergency = _rec("emergency")
    exception = _rec("exception")
    del _rec

    SEARCH_PREFIXES = ("max_depth_up: ", "max_depth_down: ", "start_path: ",
                       "search down result", "current: ", "current.parent: ")

    def own(self):
        """The lines of the extraction itself, without those of the searches it calls."""
        return [(lv, m) for lv, m in self.lines if not m.startswith(self.SEARCH_PREFIXES)]

    def texts(self, level=None):
        return [m for lv, m in self.own() if level is None or lv == level]


class Calls:
    """Records how a routine on the module is called, delegating to the real one."""

    def __init__(self, real):
        self.real = real
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.real(*args, **kwargs)


def _walk_down(start, filename, depth):
    start = Path(start).resolve()
    if (start / filename).is_file():
        return str(start / filename)
    if depth <= 0:
        return None
    for child in sorted(start.iterdir()):
        if child.is_dir():
            found = _walk_down(child, filename, depth - 1)
            if found:
                return found
    return None


def _find_settings_recursive(start_path=None, max_depth_up=0, max_depth_down=5,
                             filename="settings.py"):
    return _walk_down(start_path or os.getcwd(), filename, max_depth_down)


def _find_any_config(start_path=None, max_depth_up=0, max_depth_down=1):
    for ext in (".env", ".json", ".yaml"):
        path = t.find_settings_recursive(start_path, filename=ext, max_depth_up=max_depth_up,
                                         max_depth_down=max_depth_down)
        if path:
            return path
    return None


@pytest.fixture
def disc(clean_env, tmp_path):
    """A fresh discovery: empty cache, recorded logger, prints and searches,
    cwd = tmp_path."""
    mp = clean_env
    mp.setattr(t, "_settings_cache", None)
    log = RecordingLogger()
    mp.setattr(t, "logger", log, raising=False)
    prints = []
    mp.setattr(t, "rich_print",
               lambda msg, color="#FFFFFF", bgcolor=None, bold=False, end="\n":
               prints.append((msg, color)), raising=False)
    searches = {}
    for name, stand_in in (("find_settings_recursive", _find_settings_recursive),
                           ("find_any_config", _find_any_config)):
        searches[name] = Calls(getattr(t, name, stand_in))
        mp.setattr(t, name, searches[name], raising=False)
    yield types.SimpleNamespace(log=log, prints=prints, searches=searches, dir=tmp_path)
    t._settings_cache = None


def write(directory, name, content):
    path = Path(directory) / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(textwrap.dedent(content))
    return str(path)


def django_settings(engine="'django.db.backends.postgresql'", extra=""):
    return f"""\
        DATABASES = {{
            'default': {{
                'ENGINE': {engine},
                'NAME': 'shop',
                'USER': 'app',
                'PASSWORD': 's3cret',
                'HOST': 'db.internal',
                'PORT': 5433,
                {extra}
            }}
        }}
        """


SHOP = {"username": "app", "password": "s3cret", "database": "shop",
        "host": "db.internal", "port": 5433}


# --- connection URLs ------------------------------------------------------------

@pytest.mark.parametrize("url, expected", [
    ("postgresql://app:pw@DBHOST:6543/shop?sslmode=require",
     ("postgresql", "app", "pw", "dbhost", 6543, "shop", "sslmode=require")),
    ("POSTGRESQL://app:pw@h/shop", ("postgresql", "app", "pw", "h", None, "shop", "")),
    ("postgresql://app@h:/shop", ("postgresql", "app", None, "h", None, "shop", "")),
    ("postgresql://h:5432/a/b", ("postgresql", None, None, "h", 5432, "a/b", "")),
    ("postgresql://u:p%40x@[::1]:5432", ("postgresql", "u", "p%40x", "::1", 5432, "", "")),
    ("postgresql:app:pw@h/shop", ("postgresql", None, None, None, None, "pp:pw@h/shop", "")),
    ("h/shop", ("", None, None, None, None, "/shop", "")),
])
def test_url_components(url, expected):
    result = t.parse_postgresql_url(url)
    assert list(result) == ["protocol", "username", "password", "host", "port", "database",
                            "query_params", "original_url"]
    assert tuple(result.values())[:7] == expected
    assert result["original_url"] is url


@pytest.mark.parametrize("url", ["postgresql://u:p@h:70000/db", "postgresql://u:p@h:54x2/db"])
def test_url_bad_port_is_a_value_error(url):
    with pytest.raises(ValueError):
        t.parse_postgresql_url(url)


@pytest.mark.parametrize("value", [5432, None, b"postgresql://u@h/db"])
def test_url_that_is_not_text_fails(value):
    with pytest.raises(TypeError, match="connection_string"):
        t.parse_postgresql_url(value)


# --- loading a settings module ---------------------------------------------------

def test_settings_module_runs_afresh_each_time(tmp_path):
    counter = tmp_path / "runs"
    path = write(tmp_path, "settings.py", f"""\
        with open({str(counter)!r}, "a") as f:
            f.write("x")
        DATABASES = {{"default": {{"NAME": "shop"}}}}
        """)
    first = t.load_settings_from_path(path)
    second = t.load_settings_from_path(path)
    assert first is not second
    assert first.__name__ == "settings_module"
    assert first.DATABASES == {"default": {"NAME": "shop"}}
    assert counter.read_text() == "xx"
    assert sys.modules.get("settings_module") is None


@pytest.mark.parametrize("content, error", [
    ("DATABASES = {\n", SyntaxError),
    ("import no_such_module_anywhere\n", ImportError),
])
def test_settings_module_errors_propagate(tmp_path, content, error):
    with pytest.raises(error):
        t.load_settings_from_path(write(tmp_path, "settings.py", content))


def test_settings_module_missing_or_not_python(tmp_path):
    with pytest.raises(FileNotFoundError):
        t.load_settings_from_path(str(tmp_path / "settings.py"))
    with pytest.raises(ImportError, match="not a Python source file"):
        t.load_settings_from_path(write(tmp_path, "settings.py.bak", "X = 1\n"))


# --- Django settings ----------------------------------------------------------------

def test_django_project_settings(disc, tmp_path):
    subprocess.run([os.path.join(os.path.dirname(sys.executable), "django-admin"),
                    "startproject", "shop", str(tmp_path)], check=True)
    path = tmp_path / "shop" / "settings.py"
    text = path.read_text()
    start = text.index("DATABASES = {")
    end = text.index("\n}\n", start) + 3
    path.write_text(text[:start] + textwrap.dedent(django_settings()) + text[end:])

    result = t.parse_django_settings(max_depth_down=1)

    assert result == SHOP and list(result) == list(SHOP)
    assert t._settings_cache is result
    assert disc.prints == [("📄 Found settings at: " + str(path), INFO)]
    lines = disc.log.own()
    assert lines[:4] == [("debug", "settings_path: None"),
                         ("debug", "settings_path: " + str(path)),
                         ("debug", "settings_path: " + str(path)),
                         ("info", "os.path.isfile(settings_path): True")]
    assert lines[4:8] == [("emergency", "final_path: " + str(path)),
                          ("emergency", "final_path is file: True"),
                          ("warning", "CHECK [1]: True"),
                          ("alert", "processsing 'settings.py' in final_path ...")]
    assert lines[8][0] == "info" and lines[8][1].startswith("settings: <module 'settings_module'")
    assert lines[9][0] == "info" and lines[9][1].startswith("databases_obj: {'default': {")
    assert lines[10:] == [("notice", f"[{path}] _settings_cache: {dict(SHOP, password='******')}")]
    assert disc.searches["find_settings_recursive"].calls == [
        ((), {"max_depth_up": 0, "max_depth_down": 1})]


def test_settings_in_cwd_is_taken_without_searching(disc):
    path = write(disc.dir, "settings.py", django_settings("'postgres'"))
    assert t.parse_django_settings() == SHOP
    assert disc.searches["find_settings_recursive"].calls == []
    assert disc.log.own()[1] == ("debug", "settings_path: " + path)


@pytest.mark.parametrize("engine, shown", [
    ("'django.db.backends.mysql'", "'django.db.backends.mysql'"),
    ("'[red]x[/]'", "'[red]x[/]'"),
])
def test_django_engine_not_postgresql(disc, capsys, engine, shown):
    write(disc.dir, "settings.py", django_settings(engine))
    assert t.parse_django_settings() is None
    assert t._settings_cache is None
    assert capsys.readouterr().out == f"❌ `settings.py` found but engine is {shown}\n"
    assert disc.prints == []


@pytest.mark.parametrize("content", ["DEBUG = True\n", "DATABASES = {}\n"])
def test_django_without_databases_names_none(disc, capsys, content):
    write(disc.dir, "settings.py", content)
    assert t.parse_django_settings() is None
    assert capsys.readouterr().out == "❌ `settings.py` found but engine is 'None'\n"
    assert disc.log.texts("info")[-1] == "databases_obj: " + ("None" if "DEBUG" in content else "{}")


@pytest.mark.parametrize("engine, accepted", [
    ("'django.db.backends.postgresql'", True),
    ("'PostgreSQL'", True),
    ("'POSTGRE'", True),
    ("'.postgresql'", True),
    ("'django.db.backends.postgresql_psycopg2'", False),
    ("'psql'", False),
])
def test_django_engine_names(disc, engine, accepted):
    write(disc.dir, "settings.py", django_settings(engine))
    assert (t.parse_django_settings() == SHOP) is accepted


def test_django_second_entry_can_qualify(disc):
    write(disc.dir, "settings.py", """\
        DATABASES = {
            'legacy': {'ENGINE': 'django.db.backends.sqlite3', 'NAME': 'db.sqlite3'},
            'main': {'ENGINE': 'postgresql', 'NAME': 'shop', 'HOST': '', 'hostname': 'h'},
        }
        """)
    assert t.parse_django_settings() == {"username": None, "password": None, "database": "shop",
                                         "host": "h", "port": None}


def test_file_named_my_settings_takes_the_django_branch(disc):
    path = write(disc.dir, "conf/my_settings.py", django_settings())
    assert t.parse_django_settings(path) == SHOP
    assert ("warning", "CHECK [1]: True") in disc.log.lines


@pytest.mark.parametrize("traceback, debug", [("0", "0"), ("yes", "0"), ("0", "TRUE")])
def test_settings_file_that_raises(disc, monkeypatch, traceback, debug):
    monkeypatch.setenv("TRACEBACK", traceback)
    monkeypatch.setenv("DEBUG", debug)
    path = write(disc.dir, "settings.py", "SECRET = 'pw-in-source'\nraise RuntimeError('broken settings')\n")
    assert t.parse_django_settings() is None
    errors = disc.log.texts("error")
    # The file, the line and the kind; never the text of the line.
    reason = f"{path}: line 2: RuntimeError: broken settings"
    assert errors[0] == "⚠️ Debug - Error reading settings: " + reason
    if traceback == "yes":
        assert len(errors) == 2 and errors[1].startswith("Traceback (most recent call last)")
        assert errors[1].rstrip().endswith("ConfigFileError: " + reason)
        assert "pw-in-source" not in errors[1] and "raise RuntimeError" not in errors[1]
    else:
        assert len(errors) == 1
    if debug == "TRUE":
        assert disc.log.texts("exception") == [reason]
        assert disc.log.handled == [ConfigFileError]
    else:
        assert disc.log.texts("exception") == []


def test_interruptions_pass_through(disc):
    write(disc.dir, "settings.py", "raise KeyboardInterrupt\n")
    with pytest.raises(KeyboardInterrupt):
        t.parse_django_settings()
    assert disc.log.texts("error") == []


def test_settings_file_calling_exit_is_an_error_of_that_file(disc):
    path = write(disc.dir, "settings.py", "import sys\nsys.exit(3)\n")
    assert t.parse_django_settings() is None
    assert disc.log.texts("error") == [
        f"⚠️ Debug - Error reading settings: {path} called sys.exit(3) while being read"]


# --- the cache -------------------------------------------------------------------

def test_cache_is_returned_whatever_the_arguments(disc):
    write(disc.dir, "settings.py", django_settings())
    first = t.parse_django_settings()
    disc.log.lines.clear()
    calls = len(disc.searches["find_settings_recursive"].calls)
    for args in [(), ("/nowhere/.env",), (None, 3, 7)]:
        assert t.parse_django_settings(*args) is first
    assert disc.log.lines == [] and disc.prints[1:] == []
    assert len(disc.searches["find_settings_recursive"].calls) == calls
    first["database"] = "changed"
    assert t.parse_django_settings()["database"] == "changed"


# --- configuration files -------------------------------------------------------

URL = "postgresql://app:pw@db.example:5433/shop"


def test_env_connection_url(disc):
    path = write(disc.dir, ".env", f"DATABASE_URL={URL}\ndatabase_uri=postgresql://x@y/z\n")
    result = t.parse_django_settings()
    assert result == {"protocol": "postgresql", "username": "app", "password": "pw",
                      "host": "db.example", "port": 5433, "database": "shop",
                      "query_params": "", "original_url": URL}
    assert t._settings_cache is None
    assert disc.prints == []
    lines = disc.log.lines
    assert ("debug", f"processing '{path}' ...") in lines
    assert ("warning", "CHECK [1]: False") in lines
    tail = lines[lines.index(("debug", f"processing '{path}' ...")):]
    assert [lv for lv, _ in tail] == ["debug", "notice", "info", "emergency", "debug", "notice"]
    assert tail[2][1] == ("'database_url' in list(cfg.keys()) or  'DATABASE_URL' "
                          "in list(cfg.keys()): True")
    assert tail[3][1] == "check_db_url: ['DATABASE_URL', 'database_uri']"
    assert tail[5][1] == "return config_db"


@pytest.mark.parametrize("extra, expected", [
    ("", None),
    ("POSTGRES_PORT=5433\nPOSTGRES_USER=keys\n",
     {"username": "keys", "password": None, "database": None, "host": None, "port": "5433"}),
])
def test_env_url_of_another_scheme_falls_back_to_keys(disc, extra, expected):
    write(disc.dir, ".env", "DATABASE_URL=postgres://app:pw@h:5433/shop\n" + extra)
    assert t.parse_django_settings() == expected
    assert t._settings_cache == expected
    assert disc.log.texts("exception") == []


@pytest.mark.parametrize("url", ["postgresql://app:pw@h:99999/shop", "postgresql://h/shop"])
def test_env_unusable_url_falls_back_to_keys(disc, url):
    write(disc.dir, ".env", f"DATABASE_URL={url}\nDB_PORT=1\nengine=psql\nDB_USER=u\n")
    assert t.parse_django_settings()["username"] == "u"
    assert len(disc.log.texts("exception")) == (1 if "99999" in url else 0)
    if "99999" in url:
        assert disc.log.handled == [ValueError]


def test_env_with_port_key_prints_both_lines_and_dumps(disc):
    path = write(disc.dir, ".env",
                 "POSTGRES_PORT=5433\nPOSTGRES_USER=app\nUSER=someone\nDB=shop\n")
    result = t.parse_django_settings()
    assert result == {"username": "app", "password": None, "database": "shop", "host": None,
                      "port": "5433"}
    assert t._settings_cache is result
    assert disc.prints == [("📄 Found config at: " + path, INFO),
                           ("📄 Found settings at: " + path, INFO)]
    notice = ("notice", f"[{path}] _settings_cache: {result}")
    dump = disc.log.lines[disc.log.lines.index(notice) + 1:]
    assert len(dump) == 54 and {lv for lv, _ in dump} == {"debug"}
    assert dump[3] == ("debug", "POSTGRES_USER = app")
    assert dump[14] == ("debug", "USER = someone")
    assert dump[17] == ("debug", "username = None")
    assert dump[18] == ("debug", 'cfg.get("POSTGRESQL_DATABASE") = None')
    assert dump[48] == ("debug", 'cfg.get("DB") = shop')
    assert [m.split(" = ")[0] for _, m in dump[:18]] == [
        "POSTGRESQL_USERNAME", "POSTGRESQL_USER", "POSTGRES_USERNAME", "POSTGRES_USER",
        "POSTGRE_USERNAME", "POSTGRE_USER", "postgresql_username", "postgresql_user",
        "postgres_username", "postgres_user", "postgre_username", "postgre_user", "DB_USER",
        "db_user", "USER", "USERNAME", "user", "username"]
    assert [m[9:m.index('")')] for _, m in dump[18:22]] == [
        "POSTGRESQL_DATABASE", "POSTGRES_DATABASE", "POSTGRE_DATABASE", "POSTGRESQL_DB_NAME"]


def test_env_without_engine_or_port_key_gives_none(disc):
    write(disc.dir, ".env", "POSTGRES_USER=app\nPORT=5432\n")
    assert t.parse_django_settings() is None
    assert disc.prints == [] and t._settings_cache is None


@pytest.mark.parametrize("data, result", [
    ({"engine": 5, "POSTGRES_PORT": 5432}, None),
    ({"TYPE": "Postgres", "port": 6000, "user": "u"},
     {"username": "u", "password": None, "database": None, "host": None, "port": 6000}),
])
def test_json_engine_values(disc, data, result):
    write(disc.dir, ".json", json.dumps(data))
    assert t.parse_django_settings() == result
    if result is None:
        assert disc.log.texts("error") == [
            "⚠️ Debug - Error reading settings: 'int' object has no attribute 'lower'"]


def test_explicit_missing_path_uses_only_the_config_lookup(disc):
    write(disc.dir, "settings.py", django_settings())
    write(disc.dir, "config.json", json.dumps({"engine": "postgresql"}))
    path = write(disc.dir, ".yaml", "")
    # No upward search: the ancestors' subtrees hold other tests' files.
    t.parse_django_settings(str(disc.dir / "gone.env"), max_depth_up=0, max_depth_down=3)
    assert disc.searches["find_any_config"].calls == [
        ((), {"max_depth_up": 0, "max_depth_down": 3})]
    assert {c[1].get("filename") for c in disc.searches["find_settings_recursive"].calls} <= {
        ".env", ".json", ".yaml"}
    assert ("info", "os.path.isfile(settings_path): False") in disc.log.lines
    assert ("emergency", "final_path: " + path) in disc.log.lines


def test_nothing_found_anywhere(disc):
    assert t.parse_django_settings() is None
    assert [c[1].get("filename") for c in disc.searches["find_settings_recursive"].calls][:2] == [
        None, "config.json"]
    assert disc.log.texts("emergency") == []


def test_search_or_loader_error_is_reported(disc, monkeypatch):
    def broken(*args, **kwargs):
        raise PermissionError("denied")
    monkeypatch.setattr(t, "find_settings_recursive", broken)
    assert t.parse_django_settings() is None
    assert disc.log.texts("error") == ["⚠️ Debug - Error reading settings: denied"]

    path = write(disc.dir, "broken.json", "{")
    assert t.parse_django_settings(path) is None
    assert disc.log.texts("error")[1].startswith(
        "⚠️ Debug - Error reading settings: " + path + ": invalid JSON")


# --- alias tables ------------------------------------------------------------------

@pytest.mark.parametrize("lines, key, expected", [
    ("POSTGRES_USER=pg\nUSER=plain", "username", "pg"),
    ("POSTGRESQL_USERNAME=\nDB_USER=dbu\nuser=low", "username", "dbu"),
    ("OTHER=1", "username", None),
    ("username=", "username", ""),
    ("HOST=h\nHOSTNAME=h2", "host", None),
    ("SERVER=s\nhost=h", "host", "s"),
    ("db_host=a\nDB_HOST=b", "host", "a"),
    ("DB_PORT=1\ndb_port=2", "port", "2"),
    ("NAME=n\nDATABASE=d\ndatabase=d", "database", None),
    ("POSTGRES_DATABASE=late\nPOSTGRE_DATABASE=early", "database", "early"),
    ("pass=a\npassword=b\nDB_PASSWORD=c", "password", "a"),
    ("db_password=x\nDB_PASSWORD=y\ndb_pass=z", "password", "x"),
])
def test_config_aliases(disc, lines, key, expected):
    write(disc.dir, ".env", "engine=postgres\n" + lines + "\n")
    assert t.parse_django_settings()[key] == expected


@pytest.mark.parametrize("entry, key, expected", [
    ("'HOST': '', 'hostname': 'hn'", "host", "hn"),
    ("'USER': '', 'USERNAME': 0, 'user': 'u'", "username", "u"),
    ("'PORT': 0, 'port': 0", "port", 0),
    ("'DB': 'x', 'DATABASE': 'y'", "database", "x"),
    ("'PASS': 'p', 'password': 'q'", "password", "p"),
])
def test_django_aliases(disc, entry, key, expected):
    write(disc.dir, "settings.py", "DATABASES = {'default': {'ENGINE': 'postgresql', %s}}\n" % entry)
    result = t.parse_django_settings()
    assert result[key] == expected and type(result[key]) is type(expected)


# --- effective connection configuration --------------------------------------------

def cli_args(**overrides):
    values = dict(CONFIG_FILE=None, up_level=0, down_level=1, hostname="127.0.0.1", port=5432,
                  user="postgres", passwd=None)
    values.update(overrides)
    return types.SimpleNamespace(**values)


@pytest.mark.parametrize("settings, options, expected", [
    (None, {}, ("127.0.0.1", 5432, "postgres", None)),
    ({}, {"passwd": "x"}, ("127.0.0.1", 5432, "postgres", "x")),
    ({"host": "db.internal", "port": "6000", "username": "app", "password": "fp"},
     {"hostname": "10.0.0.5", "passwd": "cli"}, ("db.internal", "6000", "app", "cli")),
    ({"host": "", "username": "", "password": "fp", "database": "shop"}, {},
     ("127.0.0.1", 5432, "postgres", "fp")),
    ({"protocol": "postgresql", "host": "h", "port": None, "username": "u", "password": None},
     {"port": 7000, "passwd": ""}, ("h", 7000, "u", None)),
])
def test_effective_config(clean_env, settings, options, expected):
    calls = []

    def discovered(*args, **kwargs):
        calls.append((args, kwargs))
        return settings

    clean_env.setattr(t, "parse_django_settings", discovered)
    args = cli_args(CONFIG_FILE="conf.env", up_level=2, down_level=4, **options)
    config = t.get_db_config_or_args(args)
    assert list(config) == ["host", "port", "user", "password"]
    assert tuple(config.values()) == expected
    assert calls == [(("conf.env",), {"max_depth_up": 2, "max_depth_down": 4})]


def test_effective_config_from_discovered_file(disc):
    write(disc.dir, "settings.py", django_settings())
    assert t.get_db_config_or_args(cli_args(passwd=None)) == {
        "host": "db.internal", "port": 5433, "user": "app", "password": "s3cret"}


def test_effective_config_missing_attribute_propagates(clean_env):
    clean_env.setattr(t, "parse_django_settings", lambda *a, **k: None)
    with pytest.raises(AttributeError):
        t.get_db_config_or_args(types.SimpleNamespace(CONFIG_FILE=None, up_level=0, down_level=1))
