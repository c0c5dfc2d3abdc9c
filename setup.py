"""pip's build of the Python module pelmora: the extension _pelmora from python/src/module.cpp
the calculators' sources in calc/src and the chart's SVG writer, compiled with their exact floating-point flags after
any flags of the environment, and the package python/pelmora with its type information. The
version is the project's, read from the top CMakeLists.txt.

    pip install --no-build-isolation .        (offline, Debian's setuptools and pybind11)
    pip wheel --no-build-isolation --no-deps -w dist .
"""

import pathlib
import re

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

root = pathlib.Path(__file__).resolve().parent
version = re.search(r"project\(pelmora VERSION ([0-9.]+)", (root / "CMakeLists.txt").read_text()).group(1)
calc_sources = sorted(str(p.relative_to(root)) for d in ("foundation", "calc") for p in (root / d / "src").glob("*.cpp"))
# The chart's SVG writer (not its PNG, which needs Qt).
chart_sources = ["chart/src/file.cpp", "chart/src/svg.cpp"]

extension = Pybind11Extension(
    "pelmora._pelmora",
    ["python/src/module.cpp", *calc_sources, *chart_sources],
    include_dirs=["foundation/include", "calc/include", "calc/src", "chart/include"],
    cxx_std=20,
    # Last on the command line, so no CFLAGS of the environment can contract or reorder.
    extra_compile_args=["-ffp-contract=off", "-fno-fast-math", "-pthread"],
    extra_link_args=["-pthread"],
)

setup(
    version=version,
    packages=["pelmora"],
    package_dir={"": "python"},
    package_data={"pelmora": ["py.typed", "*.pyi"]},
    ext_modules=[extension],
    zip_safe=False,
)
