"""The discovery's five searches written plainly with pathlib: the yardstick
the compiled searches are measured against."""
from pathlib import Path

SKIPPED = ("node_modules", "venv", "__pycache__")


def find_settings_recursive(start_path=None, max_depth_up=0, max_depth_down=5,
                            filename="settings.py"):
    def search_down(root, current_depth=0):
        if current_depth > max_depth_down:
            return None
        candidate = root / filename
        if candidate.is_file():
            return candidate
        try:
            for item in root.iterdir():
                if not item.is_dir():
                    continue
                if item.name in SKIPPED or "-env" in item.name:
                    continue
                result = search_down(item, current_depth + 1)
                if result:
                    return result
        except OSError:
            pass
        return None

    start = Path(start_path if start_path is not None else Path.cwd()).resolve()
    result = search_down(start)
    if result:
        return str(result)
    if not max_depth_up > 0:
        return None
    current = start.parent
    depth = 0
    while current != current.parent and depth <= max_depth_up:
        result = search_down(current)
        if result:
            return str(result)
        current = current.parent
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
