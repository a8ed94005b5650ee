"""How pickles name the native classes. Their types report the module
``builtins``, where pickle cannot find them by name, so a pickle refers to a
class through `restore` and the class's name instead."""

from morvena import _native_morvena


def restore(name, args):
    """A new instance of the native class `name`, called with `args`; its
    contents follow as the pickle's state."""
    if not isinstance(name, str) or name not in _native_morvena.__all__:
        raise ValueError(f"{name!r} is not a morvena class")
    return getattr(_native_morvena, name)(*args)
