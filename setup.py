"""pip install --no-build-isolation . : builds the Python module velmora with CMake through
scikit-build (Debian's python3-skbuild), offline. The package carries its own copy of the
library."""

import re
import sys
from pathlib import Path

from skbuild import setup

here = Path(__file__).resolve().parent
version = re.search(r"project\(velmora\s+VERSION\s+([0-9.]+)",
                    (here / "CMakeLists.txt").read_text()).group(1)  # type: ignore[union-attr]

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
    ],
    cmake_install_target="velmora_python_install",
)
