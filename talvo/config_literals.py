"""Settings written as HOCON or as code, read for their literal values only:
nothing in them runs. HOCON as Play, Ktor and Akka write application.conf;
Mix's config/*.exs as Phoenix writes them; the object literals of the
JavaScript and TypeScript files that configure a database (knexfile.js,
data-source.ts). Each reader returns the document, None and the line of
every key, as talvo.envloader's readers do, and spends the loader's budget
on every value it keeps."""
import os


_HOCON_BLOCK = None


def _hocon_block_line(line):
    """The key a line opens a block for (`database {`, `db.default = {`), or None."""
    global _HOCON_BLOCK
    if _HOCON_BLOCK is None:
        import re
        _HOCON_BLOCK = re.compile(r'^\s*("[^"]*"|[\w.\-]+)\s*[=:]?\s*\{\s*$')
    m = _HOCON_BLOCK.match(line)
    return m.group(1).strip('"') if m else None


def _hocon_value(raw):
    """A value as written after `=` or `:`: a quoted string, else the text up
    to a comment. None for what holds no setting (a list, an object)."""
    raw = raw.strip()
    if raw.startswith('"'):
        out, i = [], 1
        while i < len(raw) and raw[i] != '"':
            if raw[i] == "\\" and i + 1 < len(raw):
                i += 1
            out.append(raw[i])
            i += 1
        return "".join(out)
    if raw.startswith(("[", "{")):
        return None
    for marker in (" #", "\t#", " //", "\t//"):
        if marker in raw:
            raw = raw[:raw.index(marker)]
    return raw.strip()


def read_hocon(path, text, budget):
    """HOCON as Play, Ktor and Akka write their application.conf: blocks of
    `key { ... }`, dotted keys, `key = value` or `key: value`, # and //
    comments. `${?NAME}` takes the environment's value when it is set and
    leaves the key as it was otherwise. Lists, includes and multi-line
    strings hold no connection setting and are passed over."""
    document, lines = {}, {}
    stack = []
    depth_in_list = 0
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if depth_in_list:
            depth_in_list += stripped.count("[") - stripped.count("]")
            continue
        if not stripped or stripped.startswith(("#", "//", "include ")):
            continue
        block = _hocon_block_line(line)
        if block is not None:
            stack.append(block)
            continue
        if stripped.startswith("}"):
            if stack:
                stack.pop()
            continue
        cut = min((i for i in (stripped.find("="), stripped.find(":")) if i > 0), default=-1)
        if cut < 0:
            continue
        key, raw = stripped[:cut].strip().strip('"'), stripped[cut + 1:]
        if raw.strip().startswith("[") and raw.count("[") > raw.count("]"):
            depth_in_list = raw.count("[") - raw.count("]")
            continue
        value = _hocon_value(raw)
        if value is None:
            continue
        if value.startswith("${?") and value.endswith("}"):
            value = os.environ.get(value[3:-1])
            if value is None:
                continue
        budget.spend(len(value) + 1)
        parts = [p for p in ".".join(stack + [key]).split(".") if p]
        container = document
        for part in parts[:-1]:
            nested = container.get(part)
            if not isinstance(nested, dict):
                nested = container[part] = {}
            container = nested
        container[parts[-1]] = value
        lines[(id(container), parts[-1])] = number
    return document, None, lines


def _elixir_value(raw):
    """A value of a Mix config keyword list: a string (its #{...} parts left
    out), a number, or System.get_env("X"), with a default as
    System.get_env("X", "d") or System.get_env("X") || "d" writes it. None for
    anything else (a function call, a module, a list)."""
    import re
    raw = raw.strip().rstrip(",").strip()
    string = r'"((?:[^"\\]|\\.)*)"'
    env = re.fullmatch(r'System\.(?:get_env|fetch_env!?)\(\s*' + string +
                       r'\s*(?:,\s*' + string + r'\s*)?\)(?:\s*\|\|\s*' + string + r')?', raw)
    if env:
        name, default = env.group(1), env.group(2) or env.group(3)
        return os.environ.get(name, default)
    m = re.fullmatch(string, raw)
    if m:
        return re.sub(r"#\{[^}]*\}", "", m.group(1)).replace('\\"', '"')
    if re.fullmatch(r"-?\d+", raw):
        return raw
    return None


def read_elixir(path, text, budget):
    """Mix's config/*.exs as Phoenix writes them: `config :app, App.Repo,`
    and its `key: value` lines. Nothing in them runs; what is not a plain
    value or an environment variable is passed over."""
    import re
    document, lines = {}, {}
    container = None
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        head = re.match(r"config\s+:(\w+)\s*,\s*([\w.]+)\s*,?\s*(.*)$", stripped)
        if head:
            app, name, rest = head.groups()
            container = document.setdefault(name, {})
            stripped = rest
            if not stripped:
                continue
        elif stripped.startswith("config ") or stripped.startswith(("import ", "if ", "end")):
            container = None
            continue
        if container is None:
            continue
        item = re.match(r"(\w+):\s+(.+)$", stripped)
        if not item:
            continue
        value = _elixir_value(item.group(2))
        if value is None:
            continue
        budget.spend(len(value) + 1)
        container.setdefault(item.group(1), value)
        lines.setdefault((id(container), item.group(1)), number)
    return document, None, lines


_SCRIPT_TOKEN = None


def _script_tokens(text):
    """The tokens of a JavaScript or TypeScript file: strings, names (dotted),
    numbers and punctuation, with their lines; comments dropped."""
    global _SCRIPT_TOKEN
    import re
    if _SCRIPT_TOKEN is None:
        _SCRIPT_TOKEN = re.compile(
            r"""(?P<space>\s+)|(?P<comment>//[^\n]*|/\*.*?\*/)"""
            r"""|(?P<string>'(?:[^'\\\n]|\\.)*'|"(?:[^"\\\n]|\\.)*"|`(?:[^`\\$]|\\.)*`)"""
            r"""|(?P<name>[A-Za-z_$][\w$]*(?:\s*\.\s*[A-Za-z_$][\w$]*)*)"""
            r"""|(?P<number>-?\d+(?:\.\d+)?)|(?P<op>\?\?|\|\||.)""", re.S)
    line = 1
    for m in _SCRIPT_TOKEN.finditer(text):
        kind, value = m.lastgroup, m.group()
        if kind not in ("space", "comment"):
            if kind == "string":
                value = re.sub(r"\\(.)", r"\1", value[1:-1])
            elif kind == "name":
                value = re.sub(r"\s+", "", value)
            yield kind, value, line
        line += value.count("\n") if kind in ("space", "comment") else m.group().count("\n")


def _script_value(tokens, i):
    """The value an object key is given at tokens[i:], and where it ends: a
    string, a number, or process.env.NAME / env('NAME', 'default') with a
    default after || or ??. None for anything else."""
    import re
    value, j = None, i
    kind, text, _ = tokens[j] if j < len(tokens) else (None, None, 0)
    if kind in ("string", "number"):
        value, j = text, j + 1
    elif kind == "name" and text.startswith("process.env."):
        value, j = os.environ.get(text[len("process.env."):]), j + 1
    elif kind == "name" and re.fullmatch(r"(?:\w+\.)*(?:env|get|getOrThrow)", text, re.I) \
            and j + 2 < len(tokens) and tokens[j + 1][1] == "(" and tokens[j + 2][0] == "string":
        name, j = tokens[j + 2][1], j + 3
        default = None
        if j + 1 < len(tokens) and tokens[j][1] == "," and tokens[j + 1][0] in ("string", "number"):
            default, j = tokens[j + 1][1], j + 2
        if j < len(tokens) and tokens[j][1] == ")":
            j += 1
        value = os.environ.get(name, default)
    else:
        return None, i
    while j + 1 < len(tokens) and tokens[j][1] in ("||", "??") and tokens[j + 1][0] in ("string", "number"):
        if value is None or value == "":
            value = tokens[j + 1][1]
        j += 2
    return value, j


def read_script(path, text, budget):
    """The object literals of a JavaScript or TypeScript settings file
    (knexfile.js, config/database.ts, datastores.js): `key: value` under the
    keys of the objects around it. Nothing runs; a value that is not a
    literal or an environment variable is passed over."""
    tokens = list(_script_tokens(text))
    document, lines = {}, {}
    stack = []  # (key or None, container)
    container, pending = document, None
    i = 0
    while i < len(tokens):
        kind, value, line = tokens[i]
        if value == "{":
            stack.append(container)
            if pending is not None:
                nested = container.get(pending)
                if not isinstance(nested, dict):
                    nested = container[pending] = {}
                container = nested
            pending = None
            i += 1
            continue
        if value == "}":
            container = stack.pop() if stack else document
            pending = None
            i += 1
            continue
        if kind in ("name", "string") and i + 1 < len(tokens) and tokens[i + 1][1] == ":":
            key = value
            literal, end = _script_value(tokens, i + 2)
            if end > i + 2:
                if literal is not None and "." not in key:
                    budget.spend(len(literal) + 1)
                    container.setdefault(key, literal)
                    lines.setdefault((id(container), key), line)
                i = end
            else:
                pending, i = key, i + 2
            continue
        pending = None
        i += 1
    return document, None, lines
