"""The package's version is the project's, set once in the CMakeLists.txt at the root of the
checkout this folder lies in (the wheel builder stages its copies in the checkout's build/)."""

import pathlib
import re

from setuptools import setup


def project_version():
    for folder in pathlib.Path(__file__).resolve().parents:
        cmake = folder / "CMakeLists.txt"
        found = cmake.is_file() and re.search(r"^project\(ZAVN VERSION ([\d.]+)", cmake.read_text(), re.M)
        if found:
            return found.group(1)
    raise SystemExit(f"{__file__}: no CMakeLists.txt with project(ZAVN VERSION ...) above it")


setup(version=project_version())
