"""Reads server defaults from an INI file."""
import os


class IniConfig:
    """`get_config(section, key)` gives the value text, or "" when the file,
    the section or the key is missing. A file that exists but cannot be read
    or parsed raises an error naming it."""

    def __init__(self, path):
        import configparser
        self.path = os.fspath(path)
        # Values are passwords and host names: a "%" in them is just a character.
        self._parser = configparser.ConfigParser(interpolation=None)
        self._parser.optionxform = str
        try:
            with open(self.path, encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            return
        except UnicodeDecodeError as e:
            raise ValueError(f"{self.path}: invalid INI file: {e}") from e
        from talvo.envloader import ConfigFileError, ini_sections
        try:
            sections = ini_sections(self.path, text)
        except ConfigFileError as e:
            raise ValueError(str(e).replace(": invalid INI: ", ": invalid INI file: ", 1)) from e
        # Keys before the first section header have no section to be asked by.
        sections.pop("\0top", None)
        self._parser.read_dict(sections)

    def get_config(self, section, key):
        return self._parser.get(section, key, fallback="")
