"""Reads a configuration file (.env, JSON, YAML, TOML, INI, Java properties) into one
flat mapping.

Each parser is imported only when a file of its kind is read. Reading is
bounded: a file over `max_bytes` is not read, and a file whose ${NAME}
references or YAML aliases expand past its budget (`budget_floor` plus
`budget_factor` times its size) is not either; either way the error says so,
and `skipped` on it tells such an error from a malformed file.
"""
import os

# The defaults; talvo passes its own limits, from its core.
MAX_BYTES = 1 << 20
BUDGET_FLOOR = 64 * 1024
BUDGET_FACTOR = 8


class ConfigFileError(ValueError):
    """A settings file that cannot be parsed, is not a mapping, or fails while
    it runs. The message names the file and the line, never the text there:
    it may be a password. Raised without the parser's own error attached
    (that error quotes the line), so no traceback shows the text either."""


class DocumentSkipped(ConfigFileError):
    """A file left unread because reading it would cost too much."""
    skipped = True


class _Budget:
    def __init__(self, path, size, floor, factor):
        self.path = path
        self.left = floor + factor * size
        self.limit = self.left

    def spend(self, n):
        self.left -= n
        if self.left < 0:
            raise DocumentSkipped(
                f"{self.path}: its references expand past {self.limit} bytes; not read")


class Config:
    """The top-level keys and values of one configuration file, and the
    document as its format structures it (`document`: INI sections stay
    sections there, while `_data` holds every section's keys at the top).
    `lines` gives the line of a key where the format tells it:
    lines[(id(mapping), key)], for the mappings of `document`."""

    def __init__(self, path, data, document=None, lines=None):
        self.path = path
        self._data = data
        self.document = data if document is None else document
        self.lines = lines or {}

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


def _key_line(original):
    # The parser counts from 1 but numbers a binding by where its text
    # begins, blank lines before the key included.
    text = original.string
    return original.line + text[:len(text) - len(text.lstrip())].count("\n")


def _read_dotenv(path, text, budget):
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
    values, lines = {}, {}
    scope = ChainMap(values, dict(os.environ))
    for binding in parse_stream(io.StringIO(text)):
        # dotenv_values only warns about a line it cannot parse and drops it;
        # a silently missing setting is worse than a clear error.
        if binding.error:
            line = binding.original.line
            raise ConfigFileError(f"{path}: line {line}: not a KEY=value line")
        if binding.key is None:
            continue
        value = binding.value
        if value is not None:
            # A line of nested references can double what the line before
            # made: spend each value before it is kept.
            value = "".join(atom.resolve(scope) for atom in parse_variables(value))
            budget.spend(len(value) + 1)
        values[binding.key] = value
        lines[(id(values), binding.key)] = _key_line(binding.original)
    return values, None, lines


def _read_json(path, text, budget):
    import json
    try:
        return json.loads(text)
    except ValueError as e:  # json.JSONDecodeError
        where = f" (line {e.lineno}, column {e.colno})" if hasattr(e, "lineno") else ""
        raise ConfigFileError(f"{path}: invalid JSON: {getattr(e, 'msg', 'not JSON')}{where}") from None


def _yaml_problem(e):
    # Problems quote what was expected (',' or ']', '<stream end>') and at
    # times what was found (an alias, a tag), which is the file's text: only
    # the parser's own tokens are kept.
    import re
    problem = getattr(e, "problem", None) or "not YAML"
    return re.sub(r"'([^']*)'", lambda m: m.group(0) if len(m.group(1)) <= 1 or
                  re.fullmatch(r"<[a-z ]+>", m.group(1)) else "'...'", problem)


def _yaml_loader(lines):
    import yaml

    class Loader(yaml.SafeLoader):
        """Remembers the line of every key."""

    def construct_map(loader, node):
        data = {}
        yield data
        data.update(loader.construct_mapping(node))
        for key_node, _ in node.value:  # merged keys (<<) included
            try:
                key = loader.construct_object(key_node)
                lines[(id(data), key)] = key_node.start_mark.line + 1
            except TypeError:  # an unhashable key, which construct_mapping refused
                pass

    Loader.add_constructor("tag:yaml.org,2002:map", construct_map)
    return Loader


def _spend_expanded(data, budget):
    """Walks the document as a reader that expands aliases sees it: a value
    reached through many aliases is counted each time."""
    stack = [data]
    while stack:
        item = stack.pop()
        budget.spend(1)
        if isinstance(item, dict):
            stack.extend(item.values())
            budget.spend(len(item))
        elif isinstance(item, list):
            stack.extend(item)
        elif isinstance(item, str):
            budget.spend(len(item))


def _read_yaml(path, text, budget):
    import yaml
    lines = {}
    try:
        data = yaml.load(text, Loader=_yaml_loader(lines))
    except yaml.YAMLError as e:
        # str(e) quotes the offending line; the problem and its place do not.
        mark = getattr(e, "problem_mark", None)
        where = f" (line {mark.line + 1}, column {mark.column + 1})" if mark else ""
        raise ConfigFileError(f"{path}: invalid YAML: {_yaml_problem(e)}{where}") from None
    _spend_expanded(data, budget)
    return ({} if data is None else data), None, lines  # an empty document holds no settings


def _read_toml(path, text, budget):
    import tomllib
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as e:
        # tomllib says what it expected and where, never what it found.
        raise ConfigFileError(f"{path}: invalid TOML: {e}") from None


# Keys written before the first section header are read as if under this
# header, which no file can contain.
_TOP = "\0top"


def _has_lines_before_sections(text):
    for line in text.splitlines():
        stripped = line.strip()
        if not stripped or stripped[0] in "#;":
            continue
        return not stripped.startswith("[")
    return False


def ini_sections(path, text):
    """{section: {key: value}} of an INI text, with the keys written before
    the first section under _TOP."""
    import configparser
    import re
    # With the usual DEFAULT section its keys would show up inside every other
    # section; an unused name makes [DEFAULT] a section like the rest.
    parser = configparser.ConfigParser(interpolation=None, default_section="\0")
    parser.optionxform = str
    shifted = _has_lines_before_sections(text)
    try:
        parser.read_string(f"[{_TOP}]\n" + text if shifted else text, source=path)
    except configparser.Error as e:
        line = _ini_error_line(e)
        if line is not None and shifted:
            line -= 1  # as the file numbers its lines
        where = f"line {line}: " if line is not None else ""
        raise ConfigFileError(f"{path}: invalid INI: {where}{_ini_error_kind(e)}") from None
    return {section: dict(parser.items(section)) for section in parser.sections()}


def _ini_error_line(e):
    if getattr(e, "lineno", None) is not None:
        return e.lineno
    errors = getattr(e, "errors", None)
    return errors[0][0] if errors else None


def _ini_error_kind(e):
    import configparser
    if isinstance(e, configparser.DuplicateOptionError):
        return f"key {e.option!r} given twice in section [{e.section}]"
    if isinstance(e, configparser.DuplicateSectionError):
        return f"section [{e.section}] given twice"
    if isinstance(e, configparser.MissingSectionHeaderError):
        return "no [section] header"
    return "not a key = value line"


def _ini_lines(text):
    """{(section, key): line} as far as a plain reading of the lines tells."""
    found, section = {}, _TOP
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if not stripped or stripped[0] in "#;" or line[:1] in " \t":
            continue
        if stripped.startswith("[") and "]" in stripped:
            section = stripped[1:stripped.index("]")]
            continue
        cut = min((i for i in (stripped.find("="), stripped.find(":")) if i > 0), default=-1)
        if cut > 0:
            found.setdefault((section, stripped[:cut].strip()), number)
    return found


def _read_ini(path, text, budget):
    sections = ini_sections(path, text)
    data, document, lines = {}, {}, {}
    where = _ini_lines(text)
    for section, items in sections.items():
        for key, value in items.items():
            data.setdefault(key, value)
        if section == _TOP:
            document.update(items)
            container = document
        else:
            document[section] = items
            container = items
        for key in items:
            if (section, key) in where:
                lines[(id(container), key)] = where[(section, key)]
    return data, document, lines


def _read_conf(path, text, budget):
    """A .conf file: INI when it has [sections], else HOCON, which reads the
    flat `key = value` files of PostgREST or Keycloak as well as Play's and
    Ktor's blocks (quotes taken off, the last of a repeated key kept)."""
    if any(_ini_section_line(line) for line in text.splitlines()):
        return _read_ini(path, text, budget)
    from talvo.config_literals import read_hocon
    return read_hocon(path, text, budget)


def _ini_section_line(line):
    line = line.strip()
    return len(line) > 2 and line[0] == "[" and line[-1] == "]"


def _read_properties(path, text, budget):
    """Java properties: key=value, key: value or key value; # and ! comments;
    a backslash at the end of a line continues it."""
    data, lines = {}, {}
    logical, first = "", 0
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip()
        if not logical and (not stripped or stripped[0] in "#!"):
            continue
        if not logical:
            first = number
        if stripped.endswith("\\") and not stripped.endswith("\\\\"):
            logical += stripped[:-1]
            continue
        logical += stripped
        for i, char in enumerate(logical):
            if char in "=: \t" and (i == 0 or logical[i - 1] != "\\"):
                key, value = logical[:i], logical[i + 1:].lstrip(" \t=:")
                break
        else:
            key, value = logical, ""
        key = key.replace("\\", "")
        if key not in data:
            data[key] = value
            lines[(id(data), key)] = first
        logical = ""
    return data, None, lines


_BY_NAME = {
    ".env": _read_dotenv,
    ".json": _read_json, "config.json": _read_json,
    ".yaml": _read_yaml, ".yml": _read_yaml,
    ".toml": _read_toml,
    ".ini": _read_ini, ".cfg": _read_ini, ".odoorc": _read_ini,
}

def _literals(name):
    """A reader of talvo.config_literals, imported when a file needs it."""
    def read(path, text, budget):
        from talvo import config_literals
        return getattr(config_literals, name)(path, text, budget)
    return read


_BY_SUFFIX = {
    ".properties": _read_properties,
    ".json": _read_json,
    ".yaml": _read_yaml, ".yml": _read_yaml,
    ".toml": _read_toml,
    ".ini": _read_ini, ".cfg": _read_ini, ".conf": _read_conf,
    ".exs": _literals("read_elixir"),
    ".js": _literals("read_script"), ".cjs": _literals("read_script"),
    ".mjs": _literals("read_script"), ".ts": _literals("read_script"),
}


def _reader(path):
    name = os.path.basename(path)
    if name in _BY_NAME:
        return _BY_NAME[name]
    suffix = os.path.splitext(name)[1].lower()
    return _BY_SUFFIX.get(suffix, _read_dotenv)


def load_env(path, max_bytes=None, budget_floor=None, budget_factor=None):
    """Loads the file at `path`; the format follows from its name. A byte
    order mark at the start, as some editors write one, is no part of the
    settings."""
    path = os.fspath(path)
    max_bytes = MAX_BYTES if max_bytes is None else max_bytes
    with open(path, "rb") as f:
        try:
            size = os.fstat(f.fileno()).st_size
            if size > max_bytes:
                raise DocumentSkipped(f"{path}: larger than {max_bytes} bytes ({size}); not read")
            raw = f.read(max_bytes + 1)
        except OSError as e:
            # A read that fails (an I/O error, a directory) names the file,
            # as a failed open does.
            raise OSError(e.errno, e.strerror, path) from None
    if len(raw) > max_bytes:  # it grew while we looked
        raise DocumentSkipped(f"{path}: larger than {max_bytes} bytes; not read")
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        raise ConfigFileError(f"{path}: not UTF-8 text (byte {e.start + 1})") from None
    budget = _Budget(path, len(raw), BUDGET_FLOOR if budget_floor is None else budget_floor,
                     BUDGET_FACTOR if budget_factor is None else budget_factor)
    data = _reader(path)(path, text, budget)
    document, lines = None, None
    if isinstance(data, tuple):
        data, document, lines = data
    if not isinstance(data, dict):
        raise ConfigFileError(f"{path}: expected a mapping at the top level, found {type(data).__name__}")
    return Config(path, data, document, lines)
