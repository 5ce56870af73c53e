"""Reads a configuration file (.env, JSON, YAML, TOML, INI) into one flat mapping.

Each parser is imported only when a file of its kind is read.
"""
import os


class ConfigFileError(ValueError):
    """A configuration file that cannot be parsed or is not a mapping."""


class Config:
    """The top-level keys and values of one configuration file."""

    def __init__(self, path, data):
        self.path = path
        self._data = data

    def keys(self):
        return self._data.keys()

    def get(self, key, default=None):
        return self._data.get(key, default)

    def __contains__(self, key):
        return key in self._data

    def __getitem__(self, key):
        return self._data[key]

    def __iter__(self):
        return iter(self._data)

    def __len__(self):
        return len(self._data)

    def __repr__(self):
        return f"Config({self.path!r}, {self._data!r})"


def _read_dotenv(path, text):
    import io
    from collections import ChainMap
    from dotenv.parser import parse_stream
    from dotenv.variables import parse_variables

    # One pass over python-dotenv's parser, expanding ${NAME} and
    # ${NAME:-default} as dotenv_values does: earlier values of the file win
    # over the environment. dotenv_values itself copies the environment and
    # every value so far for each line, which makes a large file take time
    # that grows with the square of its size; one lookup chain does the same
    # in one pass.
    values = {}
    scope = ChainMap(values, dict(os.environ))
    for binding in parse_stream(io.StringIO(text)):
        # dotenv_values only warns about a line it cannot parse and drops it;
        # a silently missing setting is worse than a clear error.
        if binding.error:
            line = binding.original.line
            raise ConfigFileError(f"{path}: line {line}: cannot parse {binding.original.string.strip()!r}")
        if binding.key is None:
            continue
        value = binding.value
        if value is not None:
            value = "".join(atom.resolve(scope) for atom in parse_variables(value))
        values[binding.key] = value
    return values


def _read_json(path, text):
    import json
    try:
        return json.loads(text)
    except ValueError as e:
        raise ConfigFileError(f"{path}: invalid JSON: {e}") from e


def _read_yaml(path, text):
    import yaml
    try:
        data = yaml.safe_load(text)
    except yaml.YAMLError as e:
        raise ConfigFileError(f"{path}: invalid YAML: {e}") from e
    return {} if data is None else data  # an empty document holds no settings


def _read_toml(path, text):
    import tomllib
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as e:
        raise ConfigFileError(f"{path}: invalid TOML: {e}") from e


def _read_ini(path, text):
    import configparser
    # With the usual DEFAULT section its keys would show up inside every other
    # section; an unused name makes [DEFAULT] a section like the rest.
    parser = configparser.ConfigParser(interpolation=None, default_section="\0")
    parser.optionxform = str
    try:
        parser.read_string(text, source=path)
    except configparser.Error as e:
        raise ConfigFileError(f"{path}: invalid INI: {e}") from e
    data = {}
    for section in parser.sections():
        for key, value in parser.items(section):
            data.setdefault(key, value)
    return data


_BY_NAME = {
    ".env": _read_dotenv,
    ".json": _read_json, "config.json": _read_json,
    ".yaml": _read_yaml, ".yml": _read_yaml,
    ".toml": _read_toml,
    ".ini": _read_ini, ".cfg": _read_ini,
}

_BY_SUFFIX = {
    ".json": _read_json,
    ".yaml": _read_yaml, ".yml": _read_yaml,
    ".toml": _read_toml,
    ".ini": _read_ini, ".cfg": _read_ini,
}


def _reader(path):
    name = os.path.basename(path)
    if name in _BY_NAME:
        return _BY_NAME[name]
    suffix = os.path.splitext(name)[1].lower()
    return _BY_SUFFIX.get(suffix, _read_dotenv)


def load_env(path):
    """Loads the file at `path`; the format follows from its name."""
    path = os.fspath(path)
    with open(path, encoding="utf-8") as f:
        try:
            text = f.read()
        except UnicodeDecodeError as e:
            raise ConfigFileError(f"{path}: not UTF-8 text: {e}") from e
    data = _reader(path)(path, text)
    if not isinstance(data, dict):
        raise ConfigFileError(f"{path}: expected a mapping at the top level, found {type(data).__name__}")
    return Config(path, data)
