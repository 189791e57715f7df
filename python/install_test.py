"""pip install of the source tree into a fresh virtual environment, as the README tells a user:
the package must import from there, drive a simulated hand, and put nothing outside its own
directory (and pip's record of it). The ctest test python_install (label python-install).

    python3 install_test.py SOURCE_DIR

Exits 77 (skipped) when python3-venv or python3-skbuild is missing.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Set

SKIP = 77

DRIVE = """
import velmora
from velmora.sim import SimulatedHand
print(velmora.__file__)
with SimulatedHand(velmora.TOVIN, velmora.RIGHT, "virtual:can0"):
    with velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "virtual:can0") as hand:
        hand.finger_move([100] * 10)
        assert hand.read_state(2.0).shape == (10,)
        print(repr(hand))
"""


def files(root: Path) -> Set[str]:
    return {str(p.relative_to(root)) for p in root.rglob("*") if not p.is_dir()}


def main() -> int:
    source = Path(sys.argv[1]).resolve()
    try:
        import skbuild  # noqa: F401
        import venv  # noqa: F401
        import ensurepip  # noqa: F401  (Debian's python3-venv)
    except ImportError as missing:
        print(f"skipped: {missing.name} is missing (apt install python3-venv python3-skbuild)")
        return SKIP

    with tempfile.TemporaryDirectory(prefix="velmora-install-") as scratch:
        root = Path(scratch)
        # pip builds in the tree it is given (scikit-build's _skbuild/): a copy keeps the
        # source tree clean.
        tree = root / "src"
        shutil.copytree(source, tree, ignore=shutil.ignore_patterns(
            ".git", "build", "_skbuild", "*.egg-info", "__pycache__", ".mypy_cache"))
        env_dir = root / "venv"
        subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                        str(env_dir)], check=True)
        python = env_dir / "bin" / "python"
        before = files(env_dir)

        env = dict(os.environ)
        env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        if env.get("CMAKE_CXX_COMPILER_LAUNCHER") == "ccache":
            env["CCACHE_BASEDIR"] = str(root)
        start = time.monotonic()
        subprocess.run([str(python), "-m", "pip", "install", "--quiet", "--no-build-isolation",
                        "--no-deps", "--no-index", str(tree)], check=True, env=env, cwd=root)
        print(f"pip install: {time.monotonic() - start:.0f} s")

        added = files(env_dir) - before
        site = Path(subprocess.run([str(python), "-c", "import sysconfig; print("
                                    "sysconfig.get_path('purelib'))"], check=True,
                                   capture_output=True, text=True).stdout.strip())
        prefix = str(site.relative_to(env_dir))
        def ours(name: str) -> bool:
            record = name.startswith(prefix + "/velmora-") and (
                ".dist-info/" in name or ".egg-info/" in name)
            return record or name.startswith(prefix + "/velmora/")

        outside = sorted(f for f in added if not ours(f))
        if outside:
            print("installed outside the package:\n  " + "\n  ".join(outside))
            return 1
        package = {f for f in added if f.startswith(prefix + "/velmora/")}
        names = {Path(f).name for f in package}
        for wanted in ("__init__.py", "__init__.pyi", "plot.py", "py.typed",
                       "libvelmora_cpp_sdk.so.1"):
            if wanted not in names:
                print(f"the package lacks {wanted}: {sorted(names)}")
                return 1

        run = subprocess.run([str(python), "-c", DRIVE], capture_output=True, text=True,
                             cwd=root, timeout=120)
        print(run.stdout, run.stderr, sep="")
        if run.returncode != 0 or not run.stdout.startswith(str(site)):
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
