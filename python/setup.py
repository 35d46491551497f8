"""Builds the extension module mogem._mogem with the repository's CMake (its MOGEM_PYTHON option),
so the engine is compiled exactly as for the mogem program (-O2, no contraction); and beside it
mogem._mpi (fits over the processes of an mpi4py communicator) where MPI and mpi4py are found."""

import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE.parent  # the repository: the engine and its CMakeLists.txt


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not (SOURCE / "CMakeLists.txt").exists():
            sys.exit(f"mogem: {SOURCE} holds no CMakeLists.txt; install from the repository's python/ folder")
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        target.parent.mkdir(parents=True, exist_ok=True)
        tree = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(SOURCE), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_TESTING=OFF", "-DMOGEM_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}",
                     f"-DPYTHON_EXECUTABLE={sys.executable}", f"-DMOGEM_PYTHON_OUTPUT={target.parent}"]
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # CMake finds Debian's /usr/lib/cmake/pybind11
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 2))
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(tree), "--target", "mogem_python_modules", "-j", jobs], check=True)
        built = sorted(target.parent.glob("_mogem*.so"))
        if not built:
            sys.exit(f"mogem: the build left no _mogem module in {target.parent}")
        if built[0] != target:
            built[0].replace(target)


setup(ext_modules=[CMakeExtension("mogem._mogem")], cmdclass={"build_ext": CMakeBuild})
