"""voridez: subsurface-geoscience data with a C++ core.

Everything public comes from the compiled extension ``voridez._voridez``,
re-exported here under the same names.
"""

from . import _voridez
from ._voridez import *  # noqa: F401,F403
from ._voridez import __version__  # noqa: F401

__all__ = list(_voridez.__all__)
