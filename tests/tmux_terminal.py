"""A shell inside tmux, as a person uses one: keys typed with send-keys, the
screen read with capture-pane, waits on what the screen shows."""
import os
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




def start_bash(tmp_path, env, width=160, height=40):
    """A bare bash in a new tmux session of `width` by `height`, at its prompt,
    in `tmp_path`. Stop it with stop()."""
    socket = tmp_path / f"tmux-{width}x{height}"
    subprocess.run(["tmux", "-S", str(socket), "-f", os.devnull, "new-session", "-d", "-x",
                    str(width), "-y", str(height), "-c", str(tmp_path), "bash", "--norc",
                    "--noprofile"], env=env, check=True)
    t = Terminal(socket, tmp_path)
    t.wait_for(lambda lines: lines == [PROMPT])
    return t


def stop(terminal):
    subprocess.run(["tmux", "-S", str(terminal.socket), "kill-server"], capture_output=True)
