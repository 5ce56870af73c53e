import subprocess
import sys


def test_module_loads_from_the_installed_package():
    out = subprocess.run([sys.executable, "-P", "-c", "import talvo.talvo as t; print(t.__file__)"],
                         capture_output=True, text=True, check=True, cwd="/")
    assert "site-packages" in out.stdout
