"""Colour logging: a logger with the syslog severities and a colour hint per message.

Logging is off in ordinary runs (start-up sets NO_LOGGING=1), so the silent path
must cost almost nothing: rich's logging handler pulls in rich.traceback and
Pygments, and is imported only when a logger that really writes is set up.
"""
import logging
import os

NOTICE = 25      # between INFO and WARNING
ALERT = 55       # above CRITICAL, as in syslog
EMERGENCY = 60

for _level, _name in ((NOTICE, "NOTICE"), (ALERT, "ALERT"), (EMERGENCY, "EMERGENCY")):
    logging.addLevelName(_level, _name)

# Level names rich has no style for; without these the level column is unstyled.
_LEVEL_STYLES = {
    "logging.level.notice": "cyan",
    "logging.level.alert": "bold magenta",
    "logging.level.emergency": "bold white on red",
}


class ColorLogger(logging.LoggerAdapter):
    """Every severity method takes an optional color="#RRGGBB" keyword."""

    def __init__(self, logger, silent=False):
        super().__init__(logger, {})
        self.silent = silent

    def isEnabledFor(self, level):
        return not self.silent and self.logger.isEnabledFor(level)

    def log(self, level, msg, *args, color=None, **kwargs):
        if not self.isEnabledFor(level):
            return
        if color is not None:
            kwargs["extra"] = {**(kwargs.get("extra") or {}), "color": color}
        self.logger.log(level, msg, *args, **kwargs)

    def notice(self, msg, *args, **kwargs):
        self.log(NOTICE, msg, *args, **kwargs)

    def alert(self, msg, *args, **kwargs):
        self.log(ALERT, msg, *args, **kwargs)

    def emergency(self, msg, *args, **kwargs):
        self.log(EMERGENCY, msg, *args, **kwargs)


def _default_level():
    debug = os.environ.get("DEBUG", "").lower() in ("1", "true", "yes")
    return logging.DEBUG if debug else logging.INFO


def _rich_handler():
    from rich.console import Console
    from rich.logging import RichHandler
    from rich.style import Style
    from rich.theme import Theme

    class Handler(RichHandler):
        def render_message(self, record, message):
            text = super().render_message(record, message)
            color = getattr(record, "color", None)
            if color:
                try:
                    text.stylize(Style.parse(color))
                except Exception:
                    pass  # a bad colour hint must not cost the message
            return text

    console = Console(stderr=True, theme=Theme(_LEVEL_STYLES))
    handler = Handler(console=console, show_path=False, rich_tracebacks=True)
    handler.talvo_handler = True
    return handler


def setup_logging(name=None, level=None):
    """The logger called `name` ("talvo" when not given) at `level`; silent while
    NO_LOGGING is "1"."""
    logger = logging.getLogger(name or "talvo")
    if os.environ.get("NO_LOGGING") == "1":
        return ColorLogger(logger, silent=True)
    logger.setLevel(_default_level() if level is None else level)
    if not any(getattr(h, "talvo_handler", False) for h in logger.handlers):
        logger.addHandler(_rich_handler())
    logger.propagate = False  # the root may have its own handler: write each line once
    return ColorLogger(logger)


def print_exception(exc=None):
    """Prints `exc` (the exception being handled when not given) with its
    traceback to the error stream."""
    import sys
    from rich.console import Console
    from rich.traceback import Traceback

    if exc is None:
        exc = sys.exc_info()[1]
    if exc is None:
        return
    trace = Traceback.from_exception(type(exc), exc, exc.__traceback__)
    Console(stderr=True).print(trace)
