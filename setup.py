"""pip install --no-build-isolation . : builds the Python module velmora with CMake through
scikit-build (Debian's python3-skbuild), offline. The package carries its own copy of the
library and nothing else: no command line, bridge, soak program, tests or Debian files.
CMAKE_BUILD_PARALLEL_LEVEL sets the compile jobs (by default one per processor)."""

import os
import re
import sys
from pathlib import Path

from skbuild import setup

here = Path(__file__).resolve().parent
version = re.search(r"project\(velmora\s+VERSION\s+([0-9.]+)",
                    (here / "CMakeLists.txt").read_text()).group(1)  # type: ignore[union-attr]

# Ninja, left alone, runs two jobs more than there are processors.
os.environ.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))

setup(
    name="velmora",
    version=version,
    description="Drive dexterous robot hands over CAN: the velmora SDK from Python",
    packages=["velmora"],
    package_dir={"": "python"},
    package_data={"velmora": ["*.pyi", "py.typed"]},
    python_requires=">=3.8",
    install_requires=["numpy"],
    cmake_args=[
        f"-DPython3_EXECUTABLE={sys.executable}",
        "-DVELMORA_BUILD_PYTHON=ON",
        "-DVELMORA_BUILD_TESTS=OFF",
        "-DVELMORA_BUILD_EXAMPLES=OFF",
        "-DVELMORA_BUILD_BENCHMARKS=OFF",
        "-DVELMORA_BUILD_SIM=ON",  # velmora.sim
        "-DVELMORA_BUILD_TOOLS=OFF",
        "-DVELMORA_BUILD_DDS=OFF",
        "-DVELMORA_BUILD_SOAK=OFF",
        "-DVELMORA_WARNINGS_AS_ERRORS=OFF",
    ],
    cmake_install_target="velmora_python_install",
)
