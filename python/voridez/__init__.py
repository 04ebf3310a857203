"""voridez: subsurface-geoscience data with a C++ core.

Everything public comes from the compiled extension ``voridez._voridez``.
"""

from ._voridez import *  # noqa: F401,F403
from ._voridez import __version__  # noqa: F401
from . import _voridez as _ext

__all__ = list(getattr(_ext, "__all__", [name for name in dir(_ext) if not name.startswith("_")]))
