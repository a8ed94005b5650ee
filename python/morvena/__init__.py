"""Fast native data structures for Python."""

from morvena._native_morvena import *  # noqa: F403
from morvena._native_morvena import __all__ as __all__
