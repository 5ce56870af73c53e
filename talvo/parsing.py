"""The argparse subclasses talvo's command-line grammar is built from.

argparse hands a leading optional positional the first plain word, even
when that word is a command name, so "show dbs" would read as the file
"show" and the command "dbs". Here the file positional only appears in the
help and matches nothing; the command action receives every word from the
first plain one on and decides whether that word is a command or the file.
An option the parsed command does not define reads as None on the result.
"""
import argparse


class ConfigFileAction(argparse.Action):
    def __call__(self, parser, namespace, values, option_string=None):
        if values is not None:
            setattr(namespace, self.dest, values)


class CommandAction(argparse._SubParsersAction):
    def __call__(self, parser, namespace, values, option_string=None):
        word = values[0]
        if word in self.choices or getattr(namespace, "CONFIG_FILE", None) is not None:
            argparse.ArgumentParser._check_value(parser, self, word)
            return super().__call__(parser, namespace, values, option_string)
        namespace.CONFIG_FILE = word
        # Top-level options may stand between the file and the command word.
        _, extras = argparse.ArgumentParser.parse_known_args(parser, values[1:], namespace)
        if extras:
            vars(namespace).setdefault(argparse._UNRECOGNIZED_ARGS_ATTR, []).extend(extras)


class Args(argparse.Namespace):
    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        return None


class Parser(argparse.ArgumentParser):
    def _get_nargs_pattern(self, action):
        if isinstance(action, ConfigFileAction):
            return "(-*-*)"
        return super()._get_nargs_pattern(action)

    def _check_value(self, action, value):
        if not isinstance(action, CommandAction):
            super()._check_value(action, value)

    def parse_known_args(self, args=None, namespace=None):
        namespace, extras = super().parse_known_args(args, namespace)
        if type(namespace) is argparse.Namespace:
            namespace.__class__ = Args
        return namespace, extras
