"""The call frame shared by every class, exercised through Stack: module shape,
type shape, argument binding and conversion, borrow refusals and aborts."""

import subprocess
import sys
import weakref

import pytest

import morvena
from morvena import ArrayStack, Flatlist, HyperGraph, LinkedList, Queue, Stack
from morvena import _native_morvena as native
from conftest import CallsBack, RaisingEq, assert_refused, panic_type

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


def test_stack_signatures_and_slots():
    shape = [Stack.__doc__, Stack.push.__text_signature__, Stack.swap.__text_signature__, Stack.peek.__text_signature__]
    assert shape == [None, "($self, value)", "($self, index=...)", "($self)"]
    s = Stack()
    with pytest.raises(AttributeError):
        s.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(s)


def test_second_initialisation_is_refused():
    code = ("import importlib, sys, morvena._native_morvena as m\ndel sys.modules[m.__name__]\n"
            "try: importlib.import_module(m.__name__)\nexcept ImportError as error: print('refused:', error)")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.startswith("refused:") and "once" in out


class BadIndex:
    def __index__(self):
        try:
            raise KeyError("root")
        except KeyError as root:
            raise TypeError("not today") from root


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda s: s.push(), TypeError, "Stack.push() missing 1 required positional argument: 'value'"),
        (lambda s: s.push(1, 2), TypeError, "Stack.push() takes 1 positional arguments but 2 were given"),
        (lambda s: s.push(1, value=2), TypeError, "Stack.push() got multiple values for argument 'value'"),
        (lambda s: s.push(item=1), TypeError, "Stack.push() got an unexpected keyword argument 'item'"),
        (lambda s: s.swap(1, 2), TypeError, "Stack.swap() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda s: s.swap(indx=1), TypeError, "Stack.swap() got an unexpected keyword argument 'indx'"),
        (lambda s: s.peek(1), TypeError, "Stack.peek() takes no arguments (1 given)"),
        (lambda s: Stack(1), TypeError, "Stack.__new__() takes 0 positional arguments but 1 was given"),
        (lambda s: Stack(size=1), TypeError, "Stack.__new__() got an unexpected keyword argument 'size'"),
        (lambda s: Stack.push([], 1), TypeError, "descriptor 'push' for 'builtins.Stack' objects doesn't apply to a 'list' object"),
        (lambda s: Stack.__len__([]), TypeError, "descriptor '__len__' requires a 'builtins.Stack' object but received a 'list'"),
        (lambda s: s.swap("1"), TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda s: s.swap(1.0), TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
        (lambda s: s.swap(BadIndex()), TypeError, "argument 'index': not today"),  # keeps its cause
        # Range errors of an unsigned index pass through without the argument's name.
        (lambda s: s.swap(-1), OverflowError, "can't convert negative int to unsigned"),
        (lambda s: s.swap(2**64), OverflowError, "int too big to convert"),
    ],
)
def test_binding_and_conversion_errors(call, error, message):
    s = Stack()
    s.push("x")
    with pytest.raises(error) as info:
        call(s)
    assert type(info.value) is error and str(info.value) == message
    if "not today" in message:
        assert isinstance(info.value.__cause__, KeyError)
    assert s.to_list() == ["x"]


class LyingName(str):
    def __str__(self):
        return "something else"


class RaisingName(str):
    def __str__(self):
        raise ZeroDivisionError


# The message shows the keyword's own characters, whatever they are and whatever
# its class says about itself.
@pytest.mark.parametrize("name", ["\ud800", "x\udcff", "a\x00b", "\U0001f600", "", LyingName("kw"), RaisingName("kw")],
                         ids=repr)
@pytest.mark.parametrize("call, full_name", [(lambda kw: Stack().push(1, **kw), "Stack.push()"),
                                             (lambda kw: Stack().peek(**kw), None),
                                             (lambda kw: ArrayStack(**kw), "ArrayStack.__new__()")])
def test_unexpected_keyword_names_are_shown_as_they_are(call, full_name, name):
    with pytest.raises(TypeError) as info:
        call({name: 1})
    if full_name:  # (peek takes no arguments: the interpreter refuses it first)
        assert str(info.value) == f"{full_name} got an unexpected keyword argument '{str.__str__(name)}'"


class ClaimsToBeLong:
    """A sequence that holds three items but reports a huge length."""

    def __init__(self, length, items):
        self.length, self.items = length, items

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("length", [0, 2, 2**40, 2**62, sys.maxsize])
def test_a_sequence_length_is_only_a_hint(length):
    f = Flatlist()
    f.extend(ClaimsToBeLong(length, [3, 1, 2]))
    g = HyperGraph()
    for _ in range(3):
        g.insert(None)
    g.add_edge("e", ClaimsToBeLong(length, [1, 2, 3]))
    assert f.to_list() == [1, 2, 3] and g.nodes_of("e") == [1, 2, 3]


def test_integer_like_none_and_keyword_arguments():
    s = Stack()
    for x in (1, 2, 3):
        s.push(x)
    s.swap(type("Two", (), {"__index__": lambda self: 2})())
    s.swap(None)  # None means the default, 1
    s.swap(index=True)
    s.push(value=4)
    assert s.to_list() == [4, 1, 2, 3]


@pytest.mark.parametrize(
    "cls, add, scans",
    [(Stack, "push", ["contains"]), (ArrayStack, "push", ["contains"]),
     (LinkedList, "append", ["search", "contains"]), (Queue, "enqueue", ["search", "contains"])],
)
def test_scans_discard_errors_allow_reads_and_refuse_writes(cls, add, scans):
    s = cls()
    reader = CallsBack(lambda: s.size())
    writer = CallsBack(lambda: getattr(s, add)(0))
    for element in (RaisingEq(), reader, writer):
        getattr(s, add)(element)
    assert [getattr(s, scan)(object()) for scan in scans] in ([False], [None, False])
    assert reader.errors == []
    assert_refused(writer, "Already borrowed")
    assert s.size() == 3


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
    assert not s.contains(1)  # an ordinary exception is discarded, and leaves nothing behind
    assert sys.exc_info() == (None, None, None)
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
