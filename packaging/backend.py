"""Build backend for vellum: configures and builds the extension with CMake
and packs `vellum.abi3.so` into a wheel tagged cp311-abi3, and packs the
sources into an sdist from which the same wheel builds.

It uses only the standard library, so `pip install .` works without a
package index (pass --no-build-isolation where pip insists on one).
"""

import base64
import calendar
import gzip
import hashlib
import io
import os
import subprocess
import sys
import sysconfig
import tarfile
import zipfile

NAME = "vellum"
VERSION = "0.1.0"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Everything a build from the sdist, its tests and benchmarks need.
SDIST_FILES = ["CMakeLists.txt", "pyproject.toml", "README.md"]
SDIST_DIRS = ["src", "packaging", "scripts", "tools", "bench", "tests", "fuzz", "examples"]
SDIST_SKIP_DIRS = {"__pycache__", ".pytest_cache"}
# Fixed timestamp, so one tree always gives the same archives.
ARCHIVE_DATE = (2026, 1, 1, 0, 0, 0)
ARCHIVE_MTIME = calendar.timegm(ARCHIVE_DATE + (0, 0, 0))


def _tag():
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"cp311-abi3-{platform}"


def _build_extension():
    build_dir = os.path.join(ROOT, "build", "wheel")
    subprocess.run(
        ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
         f"-DPYTHON={sys.executable}", "-DVELLUM_TESTS=OFF", "-DVELLUM_BENCH=OFF"],
        check=True, stdout=sys.stderr)
    subprocess.run(
        ["cmake", "--build", build_dir, "--target", "vellum_ext", "-j", str(os.cpu_count() or 1)],
        check=True, stdout=sys.stderr)
    return os.path.join(build_dir, "python", f"{NAME}.abi3.so")


def _metadata():
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {VERSION}\n"
            "Summary: Builds static, immutable search datasets.\n"
            "Requires-Python: >=3.11\n")


def _wheel_file():
    return ("Wheel-Version: 1.0\nGenerator: vellum-backend\n"
            f"Root-Is-Purelib: false\nTag: {_tag()}\n")


def _record_line(arcname, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{arcname},sha256={digest},{len(data)}\n"


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    dist_info = f"{NAME}-{VERSION}.dist-info"
    path = os.path.join(metadata_directory, dist_info)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, "METADATA"), "w") as f:
        f.write(_metadata())
    with open(os.path.join(path, "WHEEL"), "w") as f:
        f.write(_wheel_file())
    return dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    so_path = _build_extension()
    with open(so_path, "rb") as f:
        so = f.read()
    dist_info = f"{NAME}-{VERSION}.dist-info"
    files = [
        (f"{NAME}.abi3.so", so),
        (f"{dist_info}/METADATA", _metadata().encode()),
        (f"{dist_info}/WHEEL", _wheel_file().encode()),
    ]
    record = "".join(_record_line(n, d) for n, d in files) + f"{dist_info}/RECORD,,\n"
    wheel_name = f"{NAME}-{VERSION}-{_tag()}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w",
                         zipfile.ZIP_DEFLATED) as whl:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time=ARCHIVE_DATE)
            info.external_attr = (0o755 if name.endswith(".so") else 0o644) << 16
            whl.writestr(info, data, zipfile.ZIP_DEFLATED)
        whl.writestr(f"{dist_info}/RECORD", record)
    return wheel_name


def get_requires_for_build_sdist(config_settings=None):
    return []


def _sdist_members():
    """Repository-relative paths of the files the sdist carries, sorted."""
    members = [name for name in SDIST_FILES if os.path.isfile(os.path.join(ROOT, name))]
    for top in SDIST_DIRS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(ROOT, top)):
            dirnames[:] = [d for d in dirnames if d not in SDIST_SKIP_DIRS]
            for name in filenames:
                path = os.path.join(dirpath, name)
                if name.endswith(".pyc") or not os.path.isfile(path):
                    continue
                members.append(os.path.relpath(path, ROOT))
    return sorted(members)


def _add_bytes(tar, arcname, data, mode=0o644):
    info = tarfile.TarInfo(arcname)
    info.size = len(data)
    info.mode = mode
    info.mtime = ARCHIVE_MTIME
    tar.addfile(info, io.BytesIO(data))


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    sdist_name = f"{base}.tar.gz"
    path = os.path.join(sdist_directory, sdist_name)
    # gzip records no name and a fixed time; tar entries carry no owner.
    with open(path, "wb") as raw, \
            gzip.GzipFile(fileobj=raw, mode="wb", filename="", mtime=ARCHIVE_MTIME) as gz, \
            tarfile.open(fileobj=gz, mode="w", format=tarfile.PAX_FORMAT) as tar:
        _add_bytes(tar, f"{base}/PKG-INFO", _metadata().encode())
        for rel in _sdist_members():
            with open(os.path.join(ROOT, rel), "rb") as f:
                data = f.read()
            executable = os.stat(os.path.join(ROOT, rel)).st_mode & 0o111
            _add_bytes(tar, f"{base}/{rel}", data, 0o755 if executable else 0o644)
    return sdist_name
