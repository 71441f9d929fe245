"""Builds the Python module tarvo with the project's own CMake build, so
that the list of the library's sources stays in CMakeLists.txt alone.

    pip install --no-build-isolation .

TARVO_BUILD_DIR names the CMake build folder (default: build/python).
"""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(tarvo VERSION ([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("TARVO_BUILD_DIR") or os.path.join(ROOT, "build", "python")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build,
            "-DCMAKE_BUILD_TYPE=Release", "-DTARVO_TESTS=OFF",
            "-DPython_EXECUTABLE=" + sys.executable,
        ])
        subprocess.check_call(["cmake", "--build", build, "--target", "tarvo_python", "--parallel", "2"])
        built = [f for f in os.listdir(os.path.join(build, "python")) if f.startswith("tarvo.") and f.endswith(".so")]
        if len(built) != 1:
            raise RuntimeError("the CMake build made no Python module (is pybind11-dev installed?)")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", built[0]), target)


setup(
    version=version(),
    ext_modules=[Extension("tarvo", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
