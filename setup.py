"""Builds the native module with the project's own CMake build.

``pip install .`` configures CMake for the Python running pip, builds the
module target only and puts it beside the package's .py files. The version is
the one in CMakeLists.txt. CMAKE_ARGS adds configure options, and
CMAKE_BUILD_PARALLEL_LEVEL sets how many compilers run at once.
"""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version() -> str:
    cmake_lists = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(seedmatch\s+VERSION\s+([0-9.]+)", cmake_lists)
    if found is None:
        raise RuntimeError("CMakeLists.txt: no project(seedmatch VERSION ...)")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        if shutil.which("cmake") is None:
            raise RuntimeError("seedmatch: building the module needs CMake 3.25 or later "
                               "(apt-get install cmake)")
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}",
            "-DSEEDMATCH_PYTHON=ON", "-DSEEDMATCH_TESTS=OFF", "-DSEEDMATCH_BENCH=OFF",
            *shlex.split(os.environ.get("CMAKE_ARGS", "")),
        ]
        done = subprocess.run(configure, capture_output=True, text=True)
        print(done.stdout, end="")
        skipped = [line for line in done.stdout.splitlines() if "Python module: skipped" in line]
        if done.returncode != 0 or skipped:
            raise RuntimeError("seedmatch: cmake could not configure the Python module\n"
                               + "\n".join(skipped) + done.stderr)
        parallel = [] if "CMAKE_BUILD_PARALLEL_LEVEL" in os.environ else [
            "--parallel", str(os.cpu_count() or 1)]
        subprocess.run(["cmake", "--build", str(build), "--target", "seedmatch_python",
                        *parallel], check=True)
        # The build lays out the whole package: the module and the .py files.
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        for built in (build / "python" / "seedmatch").iterdir():
            if built.is_file():
                shutil.copy2(built, target / built.name)


setup(
    version=project_version(),
    packages=["seedmatch"],
    package_dir={"": "python"},
    ext_modules=[Extension("seedmatch._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
