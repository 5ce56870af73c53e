import logging
import subprocess
import sys
import types

import pytest

import talvo.talvo as t


def printed(capsys, *calls):
    for args, kwargs in calls:
        t.rich_print(*args, **kwargs)
    return capsys.readouterr().out


class TestRichPrint:
    def test_plain_output_is_the_text_and_a_line_end(self, capsys, clean_env):
        assert printed(capsys, (("hello",), {})) == "hello\n"

    def test_markup_in_the_message_is_literal(self, capsys, clean_env):
        msg = "a [/] b [bold]c[/bold] [#FF0000]d"
        assert printed(capsys, ((msg,), {})) == msg + "\n"

    def test_empty_end_continues_the_line(self, capsys, clean_env):
        assert printed(capsys, (("a",), {"end": ""}), (("b",), {})) == "ab\n"

    def test_colour_codes_only_when_forced(self, capsys, clean_env):
        clean_env.setenv("FORCE_COLOR", "1")
        clean_env.setenv("COLORTERM", "truecolor")
        out = printed(capsys, (("x",), {"color": "#FF4500", "bold": True}))
        assert "38;2;255;69;0" in out and "\x1b[1" in out
        assert printed(capsys, (("x",), {"bgcolor": ""})) == printed(capsys, (("x",), {}))
        assert "48;2;0;0;255" in printed(capsys, (("x",), {"bgcolor": "#0000FF"}))
        clean_env.setenv("NO_COLOR", "1")
        assert "38;2" not in printed(capsys, (("x",), {"color": "#FF4500"}))

    @pytest.mark.parametrize("kwargs, name", [
        ({"msg": 5}, "msg"), ({"msg": None}, "msg"), ({"color": None}, "color"),
        ({"color": ["bold"]}, "color"), ({"bgcolor": 0}, "bgcolor"), ({"end": None}, "end"),
    ])
    def test_wrong_types_name_the_parameter_and_print_nothing(self, capsys, kwargs, name):
        kwargs = {"msg": "m", **kwargs}
        with pytest.raises(TypeError, match=name):
            t.rich_print(**kwargs)
        assert capsys.readouterr().out == ""

    def test_print_exception_prints_the_handled_error(self, capsys, clean_env):
        try:
            raise ValueError("broken thing")
        except ValueError:
            t.print_exception()
        out = capsys.readouterr().out
        assert "Traceback" in out and "broken thing" in out


def fake_component(calls, result="component-logger", fail=None):
    def setup_logging(**kwargs):
        calls.append(kwargs)
        if fail and (kwargs or fail is RuntimeError):
            raise fail("refused")
        return result

    module = types.ModuleType("talvo.colorlog")
    module.setup_logging = setup_logging
    module.print_exception = lambda exc: None
    return module


@pytest.fixture
def component(clean_env, monkeypatch):
    """Puts a colour component of our own in place and keeps tprint intact."""
    monkeypatch.setattr(t, "tprint", None)

    def install(**options):
        calls = []
        monkeypatch.setitem(sys.modules, "talvo.colorlog", fake_component(calls, **options))
        return calls
    return install


class TestGetLogger:
    def test_colour_path_gets_name_and_level(self, component):
        calls = component()
        assert t.get_logger("__main__") == "component-logger"
        assert calls == [{"name": "talvo", "level": logging.INFO}]
        assert t.tprint is sys.modules["talvo.colorlog"].print_exception

    def test_the_real_component_renames_main(self, clean_env, monkeypatch):
        import talvo.colorlog
        monkeypatch.setattr(t, "tprint", None)
        log = t.get_logger("__main__")
        assert log.name == "talvo" and t.tprint is talvo.colorlog.print_exception
        log.notice("quiet", color="#00CED1")

    @pytest.mark.parametrize("debug, level", [("True", logging.DEBUG), ("yes", logging.DEBUG),
                                              ("0", logging.INFO), (None, logging.INFO)])
    def test_debug_variable_chooses_the_threshold(self, component, clean_env, debug, level):
        calls = component()
        if debug is not None:
            clean_env.setenv("DEBUG", debug)
        t.get_logger("x")
        assert calls[0]["level"] == level

    def test_explicit_level_wins_over_debug(self, component, clean_env):
        calls = component()
        clean_env.setenv("DEBUG", "1")
        t.get_logger("x", level=logging.WARNING)
        assert calls[0]["level"] == logging.WARNING

    def test_keyword_refusal_retries_without_arguments(self, component):
        calls = component(fail=TypeError)
        assert t.get_logger("x") == "component-logger"
        assert calls == [{"name": "x", "level": logging.INFO}, {}]

    @pytest.mark.parametrize("options", [{"fail": RuntimeError}, {"result": None}])
    def test_failing_component_falls_back_to_plain_but_keeps_tprint(self, component, options):
        component(**options)
        log = t.get_logger("talvo.test.fallback")
        assert isinstance(log, logging.Logger) and log.name == "talvo.test.fallback"
        assert t.tprint is not None

    @pytest.mark.parametrize("how", ["env", "force_plain", "prefer_rich"])
    def test_plain_path_is_forced(self, component, clean_env, how):
        calls = component()
        kwargs = {}
        if how == "env":
            clean_env.setenv("FORCE_PLAIN_LOG", "YES")
        elif how == "force_plain":
            kwargs["force_plain"] = True
        else:
            kwargs["prefer_rich"] = False
        log = t.get_logger("__main__", **kwargs)
        assert log is logging.getLogger("__main__")
        assert calls == [] and t.tprint is None

    def test_plain_logger_takes_every_severity_and_the_colour_hint(self, component, caplog):
        sys.modules["talvo.colorlog"] = None  # the component is absent
        log = t.get_logger("talvo.test.plain")
        assert t.tprint is None
        caplog.set_level(logging.DEBUG, logger="talvo.test.plain")
        for severity in ("debug", "info", "notice", "warning", "error", "alert", "emergency"):
            getattr(log, severity)(severity, color="#FFFF00")
        try:
            raise KeyError("k")
        except KeyError:
            log.exception("failed", color="#FF4500")
        levels = [r.levelno for r in caplog.records]
        assert [r.getMessage() for r in caplog.records][:7] == [
            "debug", "info", "notice", "warning", "error", "alert", "emergency"]
        assert levels[:7] == sorted(levels[:7]) and len(set(levels[:7])) == 7
        assert logging.INFO < levels[2] < logging.WARNING and levels[5] > logging.CRITICAL
        assert caplog.records[2].levelname == "NOTICE"
        assert caplog.records[7].levelno == logging.ERROR and caplog.records[7].exc_info

    @pytest.mark.parametrize("kwargs, name", [({"name": 3}, "name"), ({"name": None}, "name"),
                                              ({"level": "10"}, "level"), ({"level": 1.5}, "level")])
    def test_wrong_types_name_the_parameter(self, kwargs, name):
        with pytest.raises(TypeError, match=name):
            t.get_logger(**kwargs)


def test_plain_logger_threshold_follows_debug(tmp_path):
    # A fresh process: the root configuration is done once per process.
    script = "import talvo.talvo as t; print(t.logger.getEffectiveLevel(), t.logger.name)"
    for debug, level in (("true", logging.DEBUG), ("no", logging.INFO)):
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                             env={"DEBUG": debug, "FORCE_PLAIN_LOG": "1", "PATH": "/usr/bin"},
                             cwd=tmp_path, check=True).stdout
        assert out.split() == [str(level), "talvo.talvo"]
