"""The coroutine bridge: C++ coroutines seen from Python as real coroutines.

Where CPython's own coroutines define the behaviour, each case runs against a
native `async def` twin too, and both must behave the same.
"""
import asyncio
import collections.abc
import gc
import os
import subprocess
import sys
import traceback
import warnings
import weakref

import pytest

import talvo_bridge_test as bt
from conftest import talvo_environment

DEV_RUN = os.environ.get("TALVO_BRIDGE_DEV_RUN") == "1"


async def native_await_all(awaitables):
    return [await a for a in awaitables]


async def native_twice_after_exit(first, second):
    try:
        await first
    except GeneratorExit:
        pass
    return await second


class Yielder:
    """Awaitable that yields `values` one by one, records what is sent in and
    what happens to it, and returns `result`. With `catch`, an exception
    thrown in ends it with "caught <message>"."""

    def __init__(self, *values, result="finished", catch=False):
        self.values, self.result, self.catch = values, result, catch
        self.received, self.events = [], []

    def __await__(self):
        try:
            for v in self.values:
                self.received.append((yield v))
        except GeneratorExit:
            self.events.append("closed")
            raise
        except Exception as e:
            self.events.append(f"thrown {e}")
            if self.catch:
                return f"caught {e}"
            raise
        return self.result


class PlainIterator:
    """Awaitable whose iterator has neither send, throw nor close."""

    def __init__(self, n):
        self.n = n

    def __await__(self):
        return self

    def __iter__(self):
        return self

    def __next__(self):
        if self.n == 0:
            raise StopIteration("plain done")
        self.n -= 1
        return None


async def fail(exc):
    await asyncio.sleep(0)
    raise exc


def run(coro):
    return asyncio.run(coro)


def outcome(fn):
    """("ok", value) or ("raised", type, message) of calling fn."""
    try:
        return ("ok", fn())
    except StopIteration as e:
        return ("stop", e.value)
    except BaseException as e:  # noqa: B902 - the outcome is compared, whatever it is
        return ("raised", type(e), str(e))


# ---------------------------------------------------------------- recognition

def test_is_a_coroutine_to_asyncio_and_collections_abc():
    c = bt.await_all([])
    try:
        assert asyncio.iscoroutine(c)
        assert isinstance(c, collections.abc.Coroutine)
        assert isinstance(c, collections.abc.Awaitable)
        assert c.__name__ == c.__qualname__ == "await_all"
        assert repr(c).startswith("<coroutine object await_all at 0x")
        assert c.cr_frame is None and c.cr_running is False and c.cr_await is None
        assert iter(c) is c and c.__await__() is c
        c.__qualname__ = "renamed"
        assert c.__qualname__ == "renamed"
        with pytest.raises(TypeError):
            c.__name__ = 3
    finally:
        c.close()


def test_cr_await_and_cr_running_follow_the_body():
    y = Yielder(1)
    c = bt.await_all([y])
    assert c.send(None) == 1
    assert c.cr_await is not None and c.cr_running is False
    seen = []

    async def probe():
        seen.append(outer.cr_running)
        return 2

    outer = bt.await_all([probe()])
    assert run(outer) == [2] and seen == [True]
    with pytest.raises(StopIteration):
        c.send(None)
    assert c.cr_await is None


@pytest.mark.parametrize("way", ["run", "run_until_complete", "task", "await", "gather"])
def test_every_way_of_running_a_coroutine_accepts_it(way):
    def make():
        return bt.await_all([asyncio.sleep(0, "a"), asyncio.sleep(0.001, "b")])

    if way == "run":
        result = asyncio.run(make())
    elif way == "run_until_complete":
        loop = asyncio.new_event_loop()
        try:
            result = loop.run_until_complete(make())
        finally:
            loop.close()
    elif way == "task":
        async def main():
            return await asyncio.create_task(make())
        result = run(main())
    elif way == "await":
        async def main():
            return await make()
        result = run(main())
    else:
        async def main():
            return (await asyncio.gather(make(), make()))[1]
        result = run(main())
    assert result == ["a", "b"]


def test_task_introspection_works_on_a_suspended_coroutine():
    async def main():
        task = asyncio.create_task(bt.await_all([asyncio.sleep(0.01, 1)]))
        await asyncio.sleep(0)
        described = repr(task), task.get_stack(), task.get_coro().cr_await is not None
        return described, await task

    (text, stack, awaiting), result = run(main())
    assert "await_all()" in text and stack == [] and awaiting and result == [1]


# ---------------------------------------------------------------- delegation

def test_send_and_yields_pass_through_untouched():
    marker = object()
    y = Yielder(None, marker, result=("tuple", "result"))
    c = bt.await_all([y])
    assert c.send(None) is None
    assert c.send("first") is marker
    with pytest.raises(StopIteration) as e:
        c.send("second")
    assert y.received == ["first", "second"]
    # A tuple result is not unpacked into StopIteration's arguments.
    assert e.value.value == [("tuple", "result")]


def test_bare_none_yields_and_futures_resolved_later():
    async def main():
        loop = asyncio.get_running_loop()
        good, bad = loop.create_future(), loop.create_future()
        loop.call_later(0.01, good.set_result, 5)
        loop.call_later(0.02, bad.set_exception, LookupError("later"))
        results = await bt.await_all([good, asyncio.sleep(0), good, PlainIterator(3)])
        return results, await bt.catching(bad)

    assert run(main()) == ([5, None, 5, "plain done"], ("error", "LookupError", "later"))


@pytest.mark.parametrize("impl", [bt.await_all, native_await_all])
def test_throw_goes_to_the_inner_iterator_first(impl):
    y = Yielder(1, catch=True)
    c = impl([y])
    c.send(None)
    with pytest.raises(StopIteration) as e:
        c.throw(ValueError("in"))
    assert e.value.value == ["caught in"] and y.events == ["thrown in"]
    # The three-argument form still works (Python 3.12 deprecates it for its
    # own coroutines, and the bridge runs its tests with warnings as errors).
    c = impl([Yielder(1, catch=True)])
    c.send(None)
    with pytest.raises(StopIteration) as e, warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        c.throw(KeyError, KeyError("k"), None)
    assert e.value.value == ["caught 'k'"]


def test_throw_without_an_inner_throw_is_raised_at_the_await():
    c = bt.catching(PlainIterator(5))
    assert c.send(None) is None
    with pytest.raises(StopIteration) as e:
        c.throw(ValueError("here"))
    assert e.value.value == ("error", "ValueError", "here")


@pytest.mark.parametrize("impl", [bt.await_all, native_await_all])
def test_close_closes_the_inner_iterator_then_the_body(impl):
    y = Yielder(1, 2)
    c = impl([y])
    c.send(None)
    assert c.close() is None
    assert y.events == ["closed"]
    assert c.close() is None
    assert outcome(lambda: c.send(None)) == (
        "raised", RuntimeError, "cannot reuse already awaited coroutine")


@pytest.mark.parametrize("impl", [bt.await_twice_after_exit, native_twice_after_exit])
def test_awaiting_again_after_generator_exit_is_an_error(impl):
    c = impl(Yielder(1), Yielder(2, result="second"))
    c.send(None)
    assert outcome(c.close) == ("raised", RuntimeError, "coroutine ignored GeneratorExit")
    # It stays suspended on the second await and can still finish.
    assert outcome(lambda: c.send(None)) == ("stop", "second")


def test_not_awaitable_objects_fail_at_the_await_inside_the_body():
    class BadAwait:
        def __await__(self):
            return 42

    assert run(bt.catching(5)) == (
        "error", "TypeError", "object int can't be used in 'await' expression")
    assert run(bt.catching(BadAwait())) == (
        "error", "TypeError", "__await__() returned non-iterator of type 'int'")


def test_synchronous_completions_do_not_grow_the_stack():
    async def main():
        done = asyncio.get_running_loop().create_future()
        done.set_result(1)
        return await bt.await_n(lambda: done, 200_000)

    assert run(main()) == 200_000


def test_chains_of_bridge_coroutines_nested_with_python_ones():
    async def leaf(x):
        await asyncio.sleep(0)
        return x * 2

    async def middle(n):
        # Python awaiting C++ awaiting Python, twice over.
        inner = await bt.await_all([leaf(n), bt.await_all([leaf(n + 1)])])
        return inner

    async def main():
        return await bt.await_all([middle(1), middle(10), bt.nested(300, leaf(4))])

    assert run(main()) == [[2, [4]], [20, [22]], 8]


def test_a_cpp_coroutine_awaits_another_directly():
    assert run(bt.await_direct(asyncio.sleep(0, "x"))) == ("direct", "x")


# ---------------------------------------------------------------- states

@pytest.mark.parametrize("impl", [bt.await_all, native_await_all])
def test_one_coroutine_cannot_be_awaited_twice_at_once(impl):
    c = impl([Yielder(1)])
    c.send(None)

    async def second_awaiter():
        return await c

    message = ("error", "RuntimeError", "coroutine is being awaited already")
    assert run(bt.catching(second_awaiter())) == message
    assert run(bt.catching(bt.await_all([c]))) == message
    c.close()


@pytest.mark.parametrize("impl", [bt.await_all, native_await_all])
@pytest.mark.parametrize("case", ["reuse", "non_none_first", "throw_unstarted", "throw_done",
                                  "close_unstarted", "reentrant"])
def test_state_errors_match_native_coroutines(impl, case):
    if case == "reuse":
        c = impl([])
        assert outcome(lambda: c.send(None)) == ("stop", [])
        assert outcome(lambda: c.send(None)) == (
            "raised", RuntimeError, "cannot reuse already awaited coroutine")
        assert outcome(lambda: c.send(1)) == (
            "raised", RuntimeError, "cannot reuse already awaited coroutine")
    elif case == "non_none_first":
        c = impl([])
        assert outcome(lambda: c.send(1)) == (
            "raised", TypeError, "can't send non-None value to a just-started coroutine")
        assert outcome(lambda: c.send(None)) == ("stop", [])
    elif case == "throw_unstarted":
        c = impl([])
        assert outcome(lambda: c.throw(ValueError("early"))) == ("raised", ValueError, "early")
        assert outcome(lambda: c.send(None)) == (
            "raised", RuntimeError, "cannot reuse already awaited coroutine")
    elif case == "throw_done":
        c = impl([])
        outcome(lambda: c.send(None))
        assert outcome(lambda: c.throw(ValueError("late"))) == (
            "raised", RuntimeError, "cannot reuse already awaited coroutine")
    elif case == "close_unstarted":
        c = impl([])
        assert c.close() is None
        assert outcome(lambda: c.send(None)) == (
            "raised", RuntimeError, "cannot reuse already awaited coroutine")
    else:
        holder = []

        def reenter():
            holder[0].send(None)
            yield

        class Reenter:
            def __await__(self):
                return reenter()

        c = impl([Reenter()])
        holder.append(c)
        assert outcome(lambda: c.send(None)) == (
            "raised", ValueError, "coroutine already executing")


def test_stop_iteration_leaving_the_body_becomes_runtime_error():
    for c in (bt.raise_stop_iteration(), bt.raise_cpp("stop")):
        with pytest.raises(RuntimeError, match="coroutine raised StopIteration") as e:
            run(c)
        assert isinstance(e.value.__cause__, StopIteration)


def test_never_awaited_coroutine_warns_and_unstarted_close_does_not():
    with pytest.warns(RuntimeWarning, match="coroutine 'await_all' was never awaited"):
        c = bt.await_all([])
        del c
        gc.collect()
    # Closing before the start runs no body and does not warn.
    log = []
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        c = bt.with_cleanup(Yielder(1), log)
        c.close()
        del c
        gc.collect()
    assert log == []


# ---------------------------------------------------------------- errors

@pytest.mark.parametrize("kind,expected", [
    ("runtime", RuntimeError), ("range", IndexError), ("value", ValueError), ("int", SystemError),
])
def test_cpp_exceptions_leave_as_python_exceptions(kind, expected):
    with pytest.raises(expected):
        run(bt.raise_cpp(kind))
    assert run(bt.raise_cpp("none")) is None


def test_ordinary_errors_are_caught_by_the_body():
    assert run(bt.catching(fail(ValueError("boom")))) == ("error", "ValueError", "boom")
    assert run(bt.catching(asyncio.sleep(0, "fine"))) == "fine"


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit, asyncio.CancelledError])
def test_base_exceptions_pass_through_handlers(exc):
    with pytest.raises(exc):
        run(bt.catching(fail(exc())))


def test_python_tracebacks_survive_the_crossing():
    async def deepest():
        await asyncio.sleep(0)
        raise ValueError("deep")

    async def deeper():
        return await deepest()

    async def main():
        return await bt.await_all([bt.await_all([deeper()])])

    with pytest.raises(ValueError, match="deep") as e:
        run(main())
    names = [frame.name for frame in traceback.extract_tb(e.value.__traceback__)]
    assert names[-2:] == ["deeper", "deepest"] and "main" in names


# ---------------------------------------------------------------- cleanup

@pytest.mark.parametrize("on_cancel", [False, True])
def test_cancellation_reaches_cpp_cleanup_and_the_task_ends_cancelled(on_cancel):
    log = []

    async def main():
        coro = bt.with_cleanup(asyncio.sleep(10), log,
                               (lambda: asyncio.sleep(0)) if on_cancel else None)
        task = asyncio.create_task(bt.nested(5, coro))
        await asyncio.sleep(0)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task
        return task

    task = run(main())
    assert task.cancelled()
    middle = ["cancel cleanup done"] if on_cancel else []
    assert log == ["cancelled", *middle, "after try", "cleanup"]


def test_close_and_deallocation_run_cleanup_without_awaiting():
    log, y = [], Yielder(1)
    c = bt.with_cleanup(y, log)
    c.send(None)
    c.close()
    assert log == ["closed", "after try", "cleanup"] and y.events == ["closed"]

    log, y = [], Yielder(1)
    c = bt.with_cleanup(y, log)
    c.send(None)
    del c
    assert log == ["closed", "after try", "cleanup"] and y.events == ["closed"]

    log = []
    assert run(bt.with_cleanup(asyncio.sleep(0, 7), log)) == 7
    assert log == ["done", "after try", "cleanup"]
    log = []
    with pytest.raises(KeyError):
        run(bt.with_cleanup(fail(KeyError("k")), log))
    assert log == ["error", "after try", "cleanup"]


def test_a_cycle_through_the_awaited_iterator_is_collected():
    log, y = [], Yielder(1)
    c = bt.with_cleanup(y, log)
    y.owner = c  # the coroutine holds y's iterator, which holds y
    c.send(None)
    del c, y
    gc.collect()
    assert log == ["closed", "after try", "cleanup"]


async def native_hold(value, awaitable):
    await awaitable
    return value


async def native_hold_result(first, second):
    kept = await first
    await second
    return kept


class Box:
    """Something a coroutine holds that refers back to the coroutine."""


@pytest.mark.parametrize("held_in", ["parameter", "local"])
@pytest.mark.parametrize("native", [False, True], ids=["bridge", "native"])
def test_a_cycle_through_what_the_frame_holds_is_collected(held_in, native):
    box = Box()
    if held_in == "parameter":
        c = (native_hold if native else bt.hold)(box, Yielder(1))
        c.send(None)
    else:
        c = (native_hold_result if native else bt.hold_result)(Yielder(None, result=box),
                                                               Yielder(1))
        c.send(None)
        assert c.send(None) == 1  # the first result is kept while the second waits
    box.coroutine = c
    gone = weakref.ref(box)
    del box, c
    gc.collect()
    assert gone() is None


# ---------------------------------------------------------------- ownership

# Deletes the named attributes of talvo.talvo, collects, then runs a command.
AFTER_DELETING = """
import gc, sys
import talvo.talvo as t
for name in sys.argv[1].split(","):
    delattr(t, name)
gc.collect()
sys.argv = ["talvo", *sys.argv[2:]]
t.main()
"""


@pytest.mark.parametrize("deleted", ["Coroutine", "Coroutine,_coroutine_type"])
def test_deleting_the_type_attribute_crashes_nothing(pg, tmp_path, deleted):
    # A subprocess, so that a crash fails this test rather than the run.
    dev = ["-X", "dev"] if sys.flags.dev_mode else []
    proc = subprocess.run(
        [sys.executable, *dev, "-c", AFTER_DELETING, deleted, "-H", pg.host, "--port", str(pg.port),
         "-U", pg.user, "-P", pg.password, "show", "dbs"],
        cwd=tmp_path, env=talvo_environment(tmp_path), capture_output=True, text=True, timeout=120)
    if deleted == "Coroutine":
        # The module still owns the type: the command runs as ever.
        assert proc.returncode == 0, proc.stderr
        assert "PostgreSQL Databases" in proc.stdout
    else:
        assert proc.returncode == 1, proc.stderr
        assert proc.stdout.splitlines()[-1] == (
            "❌ Error: talvo.talvo._coroutine_type was deleted or replaced: "
            "no coroutine object can be made")


# ---------------------------------------------------------------- packaging

def test_the_installed_package_carries_no_test_coroutines():
    import talvo.talvo as t

    assert not hasattr(t, "_bridge_test")
    assert not [f for f in os.listdir(os.path.dirname(t.__file__)) if "bridge_test" in f]


# ---------------------------------------------------------------- leaks

def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(DEV_RUN, reason="timing-heavy; covered by the normal run")
def test_no_leaks_over_many_awaits_and_coroutines():
    sentinel = object()

    async def workload():
        assert await bt.await_n(lambda: asyncio.sleep(0, sentinel), 100_000) == 100_000
        for _ in range(10_000):
            assert await bt.await_all([asyncio.sleep(0, sentinel)]) == [sentinel]
        for _ in range(2_000):
            assert (await bt.catching(fail(ValueError(sentinel))))[0] == "error"
            c = bt.with_cleanup(Yielder(sentinel), [])
            c.send(None)
            c.close()
            task = asyncio.create_task(bt.with_cleanup(asyncio.sleep(1), [sentinel]))
            await asyncio.sleep(0)
            task.cancel()
            try:
                await task
            except asyncio.CancelledError:
                pass

    def measure():
        asyncio.run(workload())
        gc.collect()
        return len(gc.get_objects()), sys.getrefcount(sentinel), rss_bytes()

    measure()
    objects, refs, rss = measure()
    objects_after, refs_after, rss_after = measure()
    assert refs_after == refs
    assert abs(objects_after - objects) < 50
    assert rss_after - rss < 2 * 1024 * 1024


# ---------------------------------------------------------------- debug mode

@pytest.mark.skipif(DEV_RUN, reason="this is the debug-mode run")
def test_passes_under_python_dev_mode_and_asyncio_debug():
    env = dict(os.environ, TALVO_BRIDGE_DEV_RUN="1", PYTHONASYNCIODEBUG="1")
    proc = subprocess.run(
        [sys.executable, "-X", "dev", "-W", "error::RuntimeWarning", "-W", "error::ResourceWarning",
         "-m", "pytest", "-p", "no:cacheprovider", "-q", "-W", "error", os.path.basename(__file__)],
        cwd=os.path.dirname(__file__), env=env, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert "Warning" not in proc.stdout + proc.stderr
