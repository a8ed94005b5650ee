"""The call frame shared by every class, exercised through Stack: module shape,
type shape, argument binding and conversion, borrow refusals and aborts."""

import subprocess
import sys
import textwrap
import weakref

import pytest

import morvena
from morvena import Stack
from morvena import _native_morvena as native
from conftest import Boom, CallsBack, RaisingEq, assert_refused, panic_type

REGISTRATION_ORDER = [
    "LinkedList", "Stack", "ArrayStack", "Queue", "RingBuffer", "CircularBuffer", "PriorityQueue",
    "BinarySearchTree", "AVLTree", "Trie", "VaskMap", "RhoodMap", "BloomFilter", "CuckooFilter",
    "Flatlist", "BaseGraph", "Digraph", "WeightedGraph", "WeightedDigraph", "HyperGraph",
]


def test_module_shape():
    assert native.__all__ == REGISTRATION_ORDER
    assert morvena.__all__ == native.__all__
    assert native.__doc__ == ""
    public = [name for name in vars(native) if not name.startswith("__")]
    assert public == REGISTRATION_ORDER


@pytest.mark.parametrize("name", REGISTRATION_ORDER)
def test_type_shape(name):
    cls = getattr(native, name)
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__ == name
    assert repr(cls) == f"<class 'builtins.{name}'>"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    for method in vars(cls).values():
        if type(method).__name__ == "method_descriptor":
            assert method.__text_signature__.startswith("($self")
            assert method.__doc__ is None


def test_instance_shape():
    s = Stack()
    assert Stack.__doc__ is None
    assert Stack.push.__text_signature__ == "($self, value)"
    assert Stack.swap.__text_signature__ == "($self, index=...)"
    assert Stack.peek.__text_signature__ == "($self)"
    with pytest.raises(AttributeError):
        s.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(s)
    assert not hasattr(s, "__dict__")


def test_second_initialisation_is_refused():
    code = textwrap.dedent(
        """
        import importlib, sys
        import morvena._native_morvena
        del sys.modules["morvena._native_morvena"]
        try:
            importlib.import_module("morvena._native_morvena")
        except ImportError as error:
            print("refused:", error)
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.startswith("refused:") and "once" in out


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda s: s.push(), "Stack.push() missing 1 required positional argument: 'value'"),
        (lambda s: s.push(1, 2), "Stack.push() takes 1 positional arguments but 2 were given"),
        (lambda s: s.push(1, value=2), "Stack.push() got multiple values for argument 'value'"),
        (lambda s: s.push(item=1), "Stack.push() got an unexpected keyword argument 'item'"),
        (lambda s: s.swap(1, 2), "Stack.swap() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda s: s.swap(indx=1), "Stack.swap() got an unexpected keyword argument 'indx'"),
        (lambda s: Stack(1), "Stack.__new__() takes 0 positional arguments but 1 was given"),
        (lambda s: Stack(size=1), "Stack.__new__() got an unexpected keyword argument 'size'"),
        (lambda s: s.swap("1"), "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda s: s.swap(1.0), "argument 'index': 'float' object cannot be interpreted as an integer"),
    ],
)
def test_binding_errors(call, message):
    s = Stack()
    s.push("x")
    with pytest.raises(TypeError) as info:
        call(s)
    assert str(info.value) == message
    assert s.to_list() == ["x"]


def test_no_argument_methods_refuse_arguments():
    with pytest.raises(TypeError):
        Stack().peek(1)


@pytest.mark.parametrize("bad, error", [(-1, OverflowError), (2**64, OverflowError)])
def test_unsigned_range_errors_pass_unchanged(bad, error):
    s = Stack()
    with pytest.raises(error) as info:
        s.swap(bad)
    assert not str(info.value).startswith("argument")


def test_integer_like_and_none_arguments():
    class Two:
        def __index__(self):
            return 2

    s = Stack()
    for x in (1, 2, 3):
        s.push(x)
    s.swap(Two())
    assert s.to_list() == [1, 2, 3]
    s.swap(None)  # None means the default, 1
    assert s.to_list() == [2, 1, 3]
    s.swap(index=True)
    assert s.to_list() == [1, 2, 3]
    s.push(value=4)
    assert s.peek() == 4


def test_rewritten_error_keeps_its_cause():
    class BadIndex:
        def __index__(self):
            try:
                raise KeyError("root")
            except KeyError as root:
                raise TypeError("not today") from root

    with pytest.raises(TypeError) as info:
        Stack().swap(BadIndex())
    assert str(info.value) == "argument 'index': not today"
    assert isinstance(info.value.__cause__, KeyError)


def test_wrong_receiver_is_refused():
    with pytest.raises(TypeError):
        Stack.push([], 1)
    with pytest.raises(TypeError):
        Stack.__len__([])


def test_shared_borrow_allows_reads_and_refuses_writes():
    s = Stack()
    reader = CallsBack(lambda: s.size())
    writer = CallsBack(lambda: s.push(0))
    s.push(reader)
    s.push(writer)
    assert not s.contains(object())
    assert reader.errors == []
    assert_refused(writer, "Already borrowed")
    assert s.size() == 2


def test_exclusive_borrow_refuses_reads():
    seen = []
    s = Stack()

    class ReadsOnRelease:
        def __del__(self):
            try:
                s.size()
            except RuntimeError as error:
                seen.append(str(error))

    s.push(ReadsOnRelease())
    s.clear()
    assert seen == ["Already mutably borrowed"]
    assert s.size() == 0  # the flag is released afterwards


def test_panic_from_user_code_is_never_discarded(capfd):
    s = Stack()
    s.push(RaisingEq())
    assert not s.contains(1)  # an ordinary exception is discarded
    panic = panic_type()
    capfd.readouterr()
    assert panic is not None and issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert f"{panic.__module__}.{panic.__qualname__}" == "pyo3_runtime.PanicException"

    class Panics:
        def __eq__(self, other):
            raise panic("deep trouble")

    s.push(Panics())
    with pytest.raises(panic) as info:
        s.contains(1)
    assert str(info.value) == "deep trouble"
    assert "PanicException" in capfd.readouterr().err
    s.push(2)  # the borrow was released
    assert s.size() == 3


def test_discarded_errors_do_not_leak_into_later_calls():
    s = Stack()
    s.push(RaisingEq())
    assert (1 in s) is False
    assert sys.exc_info() == (None, None, None)
    with pytest.raises(Boom):
        RaisingEq() == 1
