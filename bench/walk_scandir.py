"""The discovery's five searches with os.scandir, which tells directories
from the listing's entry types: the faster plain-Python yardstick."""
import os
import stat

SKIPPED = ("node_modules", "venv", "__pycache__")


def _is_file(path):
    # As pathlib's is_file(): absent means no, any other failure is an error.
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except (FileNotFoundError, NotADirectoryError):
        return False


def find_settings_recursive(start_path=None, max_depth_up=0, max_depth_down=5,
                            filename="settings.py"):
    def search_down(root, current_depth=0):
        if current_depth > max_depth_down:
            return None
        candidate = os.path.join(root, filename)
        if _is_file(candidate):
            return candidate
        try:
            with os.scandir(root) as entries:
                for entry in entries:
                    if not entry.is_dir():
                        continue
                    name = entry.name
                    if name in SKIPPED or "-env" in name:
                        continue
                    result = search_down(entry.path, current_depth + 1)
                    if result:
                        return result
        except OSError:
            pass
        return None

    start = os.path.realpath(start_path if start_path is not None else os.getcwd())
    result = search_down(start)
    if result:
        return result
    if not max_depth_up > 0:
        return None
    current = os.path.dirname(start)
    depth = 0
    while current != os.path.dirname(current) and depth <= max_depth_up:
        result = search_down(current)
        if result:
            return result
        current = os.path.dirname(current)
        depth += 1
    return None


def find_any_config(start_path=None, max_depth_up=0, max_depth_down=1):
    for ext in (".env", ".json", ".yaml"):
        path = find_settings_recursive(start_path, filename=ext, max_depth_up=max_depth_up,
                                       max_depth_down=max_depth_down)
        if path:
            return path
    return None


def discovery(max_depth_up, max_depth_down):
    return (find_settings_recursive(max_depth_up=max_depth_up, max_depth_down=max_depth_down)
            or find_settings_recursive(filename="config.json", max_depth_up=max_depth_up,
                                       max_depth_down=max_depth_down)
            or find_any_config(max_depth_up=max_depth_up, max_depth_down=max_depth_down))
