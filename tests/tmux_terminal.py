"""A shell inside tmux, as a person uses one: keys typed with send-keys, the
screen read with capture-pane, waits on what the screen shows."""
import subprocess
import time

PROMPT = "$"
CLEAR = "printf '\\033[H\\033[2J'"


class Terminal:
    def __init__(self, socket, cwd):
        self.socket = socket
        self.cwd = cwd

    def tmux(self, *argv):
        return subprocess.run(["tmux", "-S", str(self.socket), *argv], check=True,
                              capture_output=True, text=True).stdout

    def type(self, text, *keys):
        if text:
            self.tmux("send-keys", "-l", text)
        if keys:
            self.tmux("send-keys", *keys)

    def screen(self):
        lines = [line.rstrip() for line in self.tmux("capture-pane", "-p").splitlines()]
        while lines and not lines[-1]:
            lines.pop()
        return lines

    def wait_for(self, condition, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            lines = self.screen()
            if condition(lines):
                return lines
            if time.monotonic() > deadline:
                raise AssertionError("screen never matched:\n" + "\n".join(lines))
            time.sleep(0.05)

    def fresh_line(self):
        """An empty screen with an empty prompt."""
        self.type("", "C-u")
        self.type(CLEAR, "Enter")
        self.wait_for(lambda lines: lines == [PROMPT])


