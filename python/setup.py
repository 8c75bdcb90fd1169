"""Metadata lives in pyproject.toml; this only tags the wheel. With the
native library copied into the package (tools/python-wheel) the wheel is
for this platform alone, py3-none-<platform>; without it, pure Python."""
import glob
import os

from setuptools import Distribution, setup
from wheel.bdist_wheel import bdist_wheel

HERE = os.path.dirname(os.path.abspath(__file__))
NATIVE = bool(glob.glob(os.path.join(HERE, "vexacomm", "libVexaCommLib.so*"))
              or glob.glob(os.path.join(HERE, "vexacomm", "VexaCommLib.dll")))


class NativeDistribution(Distribution):
    def has_ext_modules(self) -> bool:
        # Installed as platform code (platlib), as an extension would be.
        return NATIVE


class NativeWheel(bdist_wheel):
    def get_tag(self):
        tag = super().get_tag()
        # ctypes, no extension module: any Python 3, any ABI, this platform.
        return ("py3", "none", tag[2]) if NATIVE else tag


setup(distclass=NativeDistribution, cmdclass={"bdist_wheel": NativeWheel})
