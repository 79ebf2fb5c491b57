"""The binding against the C headers, the export list and the project's version."""

import ctypes
import importlib.metadata
import os
import re
import subprocess
import sys

import pytest

import zavn
from conftest import ROOT
from zavn import _native

HEADERS = "".join(p.read_text() for p in sorted((ROOT / "include/zavn").glob("*.h")))


def test_player_status_has_the_headers_size_and_offsets():
    size = int(re.search(r"sizeof\(PlayerStatus\) == (\d+)", HEADERS).group(1))
    asserted = re.findall(r"^ZAVN_ASSERT_OFFSET\((\w+), (\d+)\);", HEADERS, re.M)
    offsets = {field: int(offset) for field, offset in asserted}
    assert ctypes.sizeof(zavn.PlayerStatus) == size
    fields = zavn.PlayerStatus._fields_
    assert {f: getattr(zavn.PlayerStatus, f).offset for f, _ in fields} == offsets


def test_constants_match_the_headers():
    defines = dict(re.findall(r"^#define ZAVN_(\w+) (\d+)", HEADERS, re.M))
    ours = {n: v for n, v in vars(_native).items() if n.isupper() and type(v) is int}
    ours.update({n: getattr(zavn, n) for n in dir(zavn) if n.startswith(("UPDATE_", "CALIB"))})
    ours.update({"VIRTUAL_" + n: v for n, v in vars(zavn.virtual).items() if n[:6] == "FAULT_"})
    assert {n: int(defines[n]) for n in ours} == ours
    links = dict(re.findall(r"LINK_(\w+) = (\d+)", HEADERS))
    assert {s.name: s.value for s in zavn.LinkState} == {n: int(v) for n, v in links.items()}


def _ctype_kind(c_type):
    c_type = c_type.replace("const ", "").strip()
    if c_type == "void":
        return None
    if "*" in c_type or c_type.startswith("ZAVN") and "Callback" in c_type:
        return "pointer"
    return {"int32_t": ctypes.c_int32, "uint32_t": ctypes.c_uint32, "int64_t": ctypes.c_int64}[c_type]


def _python_kind(t):
    if t is None or t in (ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64):
        return t
    assert issubclass(t, (ctypes._Pointer, ctypes.c_void_p, ctypes.c_char_p, ctypes._CFuncPtr)), t
    return "pointer"


def test_every_export_has_the_headers_prototype():
    exports = re.findall(r"^\s+(ZAVN\w+)", (ROOT / "src/core/ZAVN_Main.def").read_text(), re.M)
    assert sorted(exports) == sorted(_native.PROTOTYPES)
    declared = re.findall(r"ZAVN_API ([\w ]+?\**) ?ZAVN_CALL (\w+)\(([^)]*)\)", HEADERS)
    assert sorted(name for _, name, _ in declared) == sorted(exports)
    library = zavn.load()
    for result, name, parameters in declared:
        parameters = [] if parameters.strip() == "void" else parameters.split(",")
        # The parameter's type: its text without the name.
        wanted = [_ctype_kind(re.sub(r"\w+$", "", " ".join(p.split()))) for p in parameters]
        function = getattr(library, name)
        assert [_python_kind(t) for t in function.argtypes] == wanted, name
        assert _python_kind(function.restype) == _ctype_kind(result), name


def test_version_is_the_projects():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(ZAVN VERSION ([\d.]+)", cmake).group(1)
    assert zavn.__version__ == importlib.metadata.version("zavn") == version


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="the loader's search of Linux")
def test_library_is_found_by_the_variable_then_the_usual_search():
    path = os.path.abspath(zavn.load()._name)
    folder = os.path.dirname(path)
    env = {k: v for k, v in os.environ.items() if k not in ("ZAVN_LIBRARY", "LD_LIBRARY_PATH")}

    def load(**changes):
        return subprocess.run([sys.executable, "-c", "import zavn; print(zavn.load()._name)"],
                              env={**env, **changes}, capture_output=True, text=True, cwd=folder)

    for changes in ({"ZAVN_LIBRARY": path}, {"ZAVN_LIBRARY": folder}, {"LD_LIBRARY_PATH": folder}):
        assert load(**changes).returncode == 0, (changes, load(**changes).stderr)
    missing = load(ZAVN_LIBRARY=folder + "/nothing.so", LD_LIBRARY_PATH=folder)
    assert missing.returncode != 0 and "set ZAVN_LIBRARY" in missing.stderr
