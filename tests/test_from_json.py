"""VornaltArmKinematics.from_json: the method's surface, the record forms and messages through
the binding, the public JSON conformance corpus, and differential checks against Python's own
json module and float conversion."""

from __future__ import annotations

import json
import math
import re
import struct
from pathlib import Path
from typing import Any

import pytest
from hypothesis import assume, event, given, settings
from hypothesis import strategies as st

import vornalt_torso_kinematics as vtk

Arm = vtk.VornaltArmKinematics

PREFIX = "Invalid arms.json: "
CORPUS = Path(__file__).resolve().parent / "data" / "JSONTestSuite" / "test_parsing"
KNOWN_KEYS = ("arm_arc", "coupler_arc", "branch", "mirror")

# Messages that report broken JSON, as opposed to a JSON value that is not a record.
SYNTAX_MESSAGES = (
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "expected ident",
    "expected value",
    "key must be a string",
    "invalid number",
    "number out of range",
    "invalid escape",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "invalid unicode code point",
    "trailing comma",
    "trailing characters",
)
SURROGATE_MESSAGES = SYNTAX_MESSAGES[14:17]
POSITION = re.compile(r" at line (\d+) column (\d+)$")

POSITIVE_DIRECTION = (0.622814, 0.473503, 0.622814)
NEGATIVE_DIRECTION = (0.622814, -0.473503, 0.622814)


def bits(x: float) -> int:
    return int(struct.unpack("<Q", struct.pack("<d", x))[0])


def decode(text: str) -> str | None:
    """The decoder's message for `text` (without the prefix), or None when it decodes."""
    try:
        arm = Arm.from_json(text)
    except ValueError as exc:
        assert type(exc) is ValueError
        assert len(exc.args) == 1
        message = exc.args[0]
        assert message.startswith(PREFIX), message
        return str(message[len(PREFIX) :])
    assert type(arm) is Arm
    return None


def is_syntax(message: str) -> bool:
    return any(message.startswith(m + " at line ") for m in SYNTAX_MESSAGES)


def assert_position_within(text: str, message: str) -> None:
    match = POSITION.search(message)
    assert match, message
    line, column = int(match[1]), int(match[2])
    assert 1 <= line <= 1 + text.count("\n"), message
    assert column <= len(text.encode()), message


# --------------------------------------------------------------------------------------------
# The method


def test_static_method_on_class_and_instance_by_position_or_keyword() -> None:
    text = '[0.7, 0.5, "negative", true]'
    for call in (
        lambda: Arm.from_json(text),
        lambda: Arm.from_json(json=text),
        lambda: Arm.default_left().from_json(text),
        lambda: Arm(0.1, 0.2).from_json(json=text),
    ):
        arm = call()
        assert type(arm) is Arm
        assert (arm.arm_arc(), arm.coupler_arc(), arm.mirror()) == (0.7, 0.5, True)


def test_doc_and_text_signature() -> None:
    assert Arm.from_json.__doc__ == "Build the arm from a JSON string matching `SphericalLinkGeometry`."
    assert Arm.from_json.__text_signature__ == "(json)"


@pytest.mark.parametrize(
    ("value", "type_name"),
    [(b"{}", "bytes"), (bytearray(b"[1, 2]"), "bytearray"), (None, "NoneType"), (42, "int"), (["[1,2]"], "list")],
)
def test_non_str_is_a_type_error(value: Any, type_name: str) -> None:
    message = f"argument 'json': '{type_name}' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        Arm.from_json(value)


def test_str_subclass_is_accepted() -> None:
    class Text(str):
        pass

    assert Arm.from_json(Text("[0.25, 0.5]")).arm_arc() == 0.25


def test_lone_surrogate_str_passes_the_interpreters_error_through() -> None:
    text = '{"arm_arc": "\ud800"}'
    with pytest.raises(UnicodeEncodeError) as raised:
        Arm.from_json(text)
    with pytest.raises(UnicodeEncodeError) as reference:
        text.encode("utf-8")
    assert type(raised.value) is UnicodeEncodeError
    assert str(raised.value) == str(reference.value)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: Arm.from_json(), "VornaltArmKinematics.from_json() missing 1 required positional argument: 'json'"),
        (lambda: Arm.from_json("[1,2]", "x"), "VornaltArmKinematics.from_json() takes 1 positional arguments but 2 were given"),
        (lambda: Arm.from_json(text="[1,2]"), "VornaltArmKinematics.from_json() got an unexpected keyword argument 'text'"),
        (lambda: Arm.from_json("[1,2]", json="[1,2]"), "VornaltArmKinematics.from_json() got multiple values for argument 'json'"),
    ],
)
def test_argument_binding(call: Any, message: str) -> None:
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        call()


# --------------------------------------------------------------------------------------------
# Records that decode


@pytest.mark.parametrize(
    ("text", "arm_arc", "coupler_arc", "mirror"),
    [
        ('{"arm_arc": 0.7, "coupler_arc": 0.5}', 0.7, 0.5, False),
        ("[0.7, 0.5]", 0.7, 0.5, False),
        ('{"arm_arc": 1, "coupler_arc": 5e-1, "note": [1, {"x": null}]}', 1.0, 0.5, False),
        ('{"coupler_arc": 0.5, "mirror": true, "arm_arc": -0.7}', -0.7, 0.5, True),
        ('{"arm_arc": 0, "coupler_arc": 1e300, "x": 1, "x": {"x": [true]}}', 0.0, 1e300, False),
        ('{"\\u0061rm_arc": 2, "coupler_arc": 3, "mirror": false}', 2.0, 3.0, False),
        ("[-0, 1e-400, \"positive\", true]", -0.0, 0.0, True),
    ],
)
def test_records_decode_unchanged(text: str, arm_arc: float, coupler_arc: float, mirror: bool) -> None:
    arm = Arm.from_json(text)
    assert bits(arm.arm_arc()) == bits(arm_arc)
    assert bits(arm.coupler_arc()) == bits(coupler_arc)
    assert arm.mirror() is mirror


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ('{"arm_arc": 0.7, "coupler_arc": 0.5}', POSITIVE_DIRECTION),
        ('{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "positive"}', POSITIVE_DIRECTION),
        ('{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": {"positive": null}}', POSITIVE_DIRECTION),
        ('{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative"}', NEGATIVE_DIRECTION),
        ('{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": {"negative": null}}', NEGATIVE_DIRECTION),
        ('[0.7, 0.5, "negative"]', NEGATIVE_DIRECTION),
        ('[0.7, 0.5, {"negative" : null}, false]', NEGATIVE_DIRECTION),
        ('[0.7, 0.5, "\\u006eegative"]', NEGATIVE_DIRECTION),
    ],
)
def test_branch_shows_through_the_direction(text: str, expected: tuple[float, ...]) -> None:
    assert Arm.from_json(text).direction(0.0, 0.0) == pytest.approx(expected, abs=1e-6)


def test_negative_branch_of_a_mirrored_arm_differs_from_the_default_right_arm() -> None:
    right = Arm.default_right().direction(0.3, -0.2)
    assert Arm.from_json('[0.7, 0.5, "positive", true]').direction(0.3, -0.2) == right
    assert Arm.from_json('[0.7, 0.5, "negative", true]').direction(0.3, -0.2) != pytest.approx(right, abs=1e-3)


# --------------------------------------------------------------------------------------------
# Messages


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ("", "EOF while parsing a value at line 1 column 0"),
        ("{}", "missing field `arm_arc` at line 1 column 2"),
        ('{"arm_arc": 0.7}', "missing field `coupler_arc` at line 1 column 16"),
        ('{"arm_arc": 0.7, "arm_arc": 0.8, "coupler_arc": 0.5}', "duplicate field `arm_arc` at line 1 column 26"),
        ('{"arm_arc": true, "coupler_arc": 0.5}', "invalid type: boolean `true`, expected f64 at line 1 column 16"),
        ('{"arm_arc": 0.7, "coupler_arc": 0.5, "mirror": 1}', "invalid type: integer `1`, expected a boolean at line 1 column 48"),
        (
            '{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "upward"}',
            "unknown variant `upward`, expected `positive` or `negative` at line 1 column 55",
        ),
        ("[0.7]", "invalid length 1, expected struct SphericalLinkGeometry with 4 elements at line 1 column 5"),
        ("[]", "invalid length 0, expected struct SphericalLinkGeometry with 4 elements at line 1 column 2"),
        ('[0.7, 0.5, "negative", true, 1]', "trailing characters at line 1 column 30"),
        ('[0.7, 0.5, "negative", true,]', "trailing comma at line 1 column 29"),
        ('{"arm_arc": 0.7, "coupler_arc": 0.5} x', "trailing characters at line 1 column 38"),
        ("42", "invalid type: integer `42`, expected struct SphericalLinkGeometry at line 1 column 2"),
        ('{"Arm_arc": 0.7, "coupler_arc": 0.5}', "missing field `arm_arc` at line 1 column 36"),
        ('[0.7, 0.5, null]', "expected value at line 1 column 12"),
        ('[0.7, 0.5, {"negative": null, "x": 1}]', "expected value at line 1 column 28"),
        ('[0.7, 0.5, {"negative": 0}]', "invalid type: integer `0`, expected unit variant at line 1 column 25"),
        ('[0.7, 0.5, {1: null}]', "invalid type: integer `1`, expected variant identifier at line 1 column 13"),
        ('"caf\u00e9 \\"x\\""', 'invalid type: string "caf\u00e9 \\"x\\"", expected struct SphericalLinkGeometry at line 1 column 13'),
        ("[1e400, 0]", "number out of range at line 1 column 6"),
        ("[-0, 0, -0]", "expected value at line 1 column 9"),
        ('{"x": "\\ud800"}', "unexpected end of hex escape at line 1 column 14"),
        ('{"x": "\\udc00"}', "invalid unicode code point at line 1 column 13"),
        ('{"x": "\\ud800\\u0041"}', "lone leading surrogate in hex escape at line 1 column 19"),
        ('{"x": "a\x00"}', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 9"),
        ('{"\u00e9\u00e9":\n 1 2}', "expected `,` or `}` at line 2 column 4"),
        ("\ufeff{}", "expected value at line 1 column 1"),
    ],
)
def test_messages(text: str, message: str) -> None:
    with pytest.raises(ValueError) as raised:
        Arm.from_json(text)
    assert raised.value.args == (PREFIX + message,)


# --------------------------------------------------------------------------------------------
# Conformance corpus


def corpus_texts() -> list[tuple[str, str]]:
    """(name, text) of every corpus file that is UTF-8, so that a str can carry it."""
    assert CORPUS.is_dir(), f"missing JSON conformance corpus at {CORPUS}"
    texts = []
    for path in sorted(CORPUS.iterdir()):
        try:
            texts.append((path.name, path.read_bytes().decode("utf-8")))
        except UnicodeDecodeError:
            continue
    return texts


def test_corpus_through_the_binding() -> None:
    counts = {"y_": 0, "n_": 0, "i_": 0}
    for name, text in corpus_texts():
        message = decode(text)
        if message is not None:
            assert_position_within(text, message)
        counts[name[:2]] += 1
        if name.startswith("y_"):
            assert message is None or not is_syntax(message), f"{name}: {message}"
        elif name.startswith("n_"):
            assert message is not None, f"{name} decoded"
    assert counts["y_"] > 50 and counts["n_"] > 100 and counts["i_"] > 0, counts


# --------------------------------------------------------------------------------------------
# Differential checks against Python's json module
#
# Where the two are meant to differ on valid JSON:
# - a \u escape of a surrogate that does not pair: Python's json accepts it (and yields a str
#   with a lone surrogate); this decoder rejects it;
# - a number beyond the largest double: Python yields float inf or a big int; this decoder
#   rejects it ("number out of range");
# - the record reading stops at the first record-level error, so a broken text can fail with
#   a record message, and valid JSON can draw "expected value" where a Branch is neither a
#   string nor an object, or "trailing characters" at a fifth item of the array form.
# Where they differ in what they make of it, not in the verdict:
# - "-0" is the integer 0 for Python and -0.0 here;
# - Python refuses integers of more than 4300 digits (ValueError); all of them are beyond the
#   largest double, so this decoder refuses them too.
# NaN, Infinity and -Infinity, which Python's json accepts by default, are rejected on both
# sides here (parse_constant raises). The str goes to json.loads as is, so its handling of
# bytes (UTF-16/32 detection, BOM) plays no part; the C scanner checks \u hex digits strictly
# (the pure-Python fallback would let int(..., 16) accept "+1AB" or " 1AB").


class Raw:
    """A number token written as is."""

    def __init__(self, text: str) -> None:
        self.text = text


class Pairs(list):  # type: ignore[type-arg]
    """The members of a JSON object, in order and with repeated keys."""


NUMBER_TOKENS = st.from_regex(r"-?(0|[1-9][0-9]{0,25})(\.[0-9]{1,25})?([eE][-+]?[0-9]{1,3})?", fullmatch=True)
TEXT = st.text(max_size=8).filter(lambda s: s not in KNOWN_KEYS)
LONE_SURROGATES = st.text(st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF), min_size=1, max_size=2)
SCALARS = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**70), max_value=2**70)
    | st.floats(allow_nan=False, allow_infinity=False)
    | NUMBER_TOKENS.map(Raw)
    | st.sampled_from(["1e400", "-1e400", "1e-400", "-0", str(10**309)]).map(Raw)
    | TEXT
    | LONE_SURROGATES
)
VALUES = st.recursive(
    SCALARS,
    lambda inner: st.lists(inner, max_size=5) | st.lists(st.tuples(TEXT, inner), max_size=4).map(Pairs),
    max_leaves=12,
)
# Values shaped like records, with the known keys and sometimes the wrong kinds of values.
ARCS = st.floats(allow_nan=False, allow_infinity=False) | st.integers(-(2**65), 2**65) | NUMBER_TOKENS.map(Raw) | SCALARS
BRANCHES = (
    st.sampled_from(["positive", "negative", "upward"])
    | st.sampled_from(["positive", "negative", "x"]).map(lambda name: Pairs([(name, None)]))
    | VALUES
)
MIRRORS = st.booleans() | SCALARS
RECORDS = st.one_of(
    st.tuples(ARCS, ARCS).map(list),
    st.tuples(ARCS, ARCS, BRANCHES).map(list),
    st.tuples(ARCS, ARCS, BRANCHES, MIRRORS).map(list),
    st.tuples(ARCS, ARCS, BRANCHES, MIRRORS, SCALARS).map(list),
    st.lists(
        st.tuples(st.just("arm_arc"), ARCS)
        | st.tuples(st.just("coupler_arc"), ARCS)
        | st.tuples(st.just("branch"), BRANCHES)
        | st.tuples(st.just("mirror"), MIRRORS)
        | st.tuples(TEXT, VALUES),
        max_size=6,
    ).map(Pairs),
)
WHITESPACE = st.sampled_from(["", "", " ", "\n", "\t", "\r\n", " \r "])
MUTATION_CHARS = '{}[],:"\\-+0.eEtfnux /\n\x00\x01\x7f\u00e9'


@st.composite
def serialised(draw: Any, value: Any = VALUES) -> str:
    """A JSON text of a generated value, with whitespace drawn between its tokens."""

    def text_of(v: Any) -> str:
        ws = draw(WHITESPACE)
        if isinstance(v, Raw):
            return ws + v.text
        if isinstance(v, str):
            lone = any(0xD800 <= ord(c) <= 0xDFFF for c in v)
            return ws + json.dumps(v, ensure_ascii=lone or draw(st.booleans()))
        if isinstance(v, Pairs):
            members = [text_of(k) + draw(WHITESPACE) + ":" + text_of(item) for k, item in v]
            return ws + "{" + ",".join(members) + draw(WHITESPACE) + "}"
        if isinstance(v, list):
            return ws + "[" + ",".join(text_of(item) for item in v) + draw(WHITESPACE) + "]"
        return ws + json.dumps(v)

    return text_of(draw(value)) + draw(WHITESPACE)


@st.composite
def mutated(draw: Any, texts: Any) -> str:
    """A serialised value, left alone or truncated, or with one character deleted, inserted or
    replaced."""
    text = draw(texts)
    kind = draw(st.sampled_from(["keep", "truncate", "delete", "insert", "replace"]))
    if kind == "keep" or (not text and kind != "insert"):
        return str(text)
    at = draw(st.integers(min_value=0, max_value=len(text) - (0 if kind == "insert" else 1)))
    if kind == "truncate":
        return str(text[:at])
    if kind == "delete":
        return str(text[:at] + text[at + 1 :])
    char = draw(st.sampled_from(MUTATION_CHARS))
    return str(text[:at] + char + text[at + (1 if kind == "replace" else 0) :])


class Verdict:
    """What Python's json makes of a text."""

    def __init__(self, text: str) -> None:
        self.valid = False
        self.beyond_double = False  # a number that no double holds
        self.lone_surrogate = False  # a string with an unpaired surrogate
        self.top_pairs: Pairs | None = None
        self.value: Any = None
        try:
            self.value = json.loads(
                text,
                parse_float=self._float,
                parse_int=self._int,
                parse_constant=self._constant,
                object_pairs_hook=self._pairs,
            )
        except ValueError:  # JSONDecodeError, NaN/Infinity, or an int of too many digits
            return
        self.valid = True
        self._look_at(self.value)
        if isinstance(self.value, Pairs):
            self.top_pairs = self.value

    @property
    def special(self) -> bool:
        return self.beyond_double or self.lone_surrogate

    def _float(self, token: str) -> float:
        value = float(token)
        self.beyond_double |= math.isinf(value)
        return value

    def _int(self, token: str) -> int | float:
        if token == "-0":
            return -0.0  # Python's int drops the sign that the record keeps
        value = int(token)
        try:
            float(value)
        except OverflowError:
            self.beyond_double = True
        return value

    @staticmethod
    def _constant(token: str) -> None:
        raise ValueError(token)

    @staticmethod
    def _pairs(pairs: list[tuple[str, Any]]) -> Pairs:
        return Pairs(pairs)

    def _look_at(self, value: Any) -> None:
        if isinstance(value, str):
            self.lone_surrogate |= any(0xD800 <= ord(c) <= 0xDFFF for c in value)
        elif isinstance(value, (list, tuple)):
            for item in value:
                self._look_at(item)


def is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def branch_may_draw_syntax(branch: Any) -> bool:
    """A Branch that is neither a string nor an object of one member gets "expected value"."""
    return not isinstance(branch, str) and not (isinstance(branch, Pairs) and len(branch) == 1)


def may_draw_syntax(value: Any) -> bool:
    """Whether valid JSON may still draw a syntax message as a record: at a Branch, or at a
    fifth item of the array form."""
    if isinstance(value, Pairs):
        return any(key == "branch" and branch_may_draw_syntax(item) for key, item in value)
    if isinstance(value, list) and len(value) >= 3 and all(map(is_number, value[:2])):
        return branch_may_draw_syntax(value[2]) or len(value) >= 5
    return False


def record_of(value: Any) -> tuple[float, float, bool]:
    """arm_arc, coupler_arc and mirror of a record as Python reads it."""
    if isinstance(value, Pairs):
        members = dict(value)
        return float(members["arm_arc"]), float(members["coupler_arc"]), members.get("mirror", False)
    return float(value[0]), float(value[1]), value[3] if len(value) > 3 else False


@settings(max_examples=400, deadline=None)
@given(text=mutated(serialised(VALUES | RECORDS)))
def test_whole_text_verdict_agrees_with_python(text: str) -> None:
    verdict = Verdict(text)
    message = decode(text)
    event(f"python {'accepts' if verdict.valid else 'rejects'}, decoder {'accepts' if message is None else 'rejects'}")
    if message is None:
        assert verdict.valid and not verdict.special
        arm = Arm.from_json(text)
        decoded = (arm.arm_arc(), arm.coupler_arc(), arm.mirror())
        assert list(map(bits, decoded[:2])) == list(map(bits, record_of(verdict.value)[:2]))
        assert decoded[2] is record_of(verdict.value)[2]
        return
    assert_position_within(text, message)
    if not verdict.valid:
        return  # a record-level error may come before the broken part
    if verdict.special:
        return  # rejected here, accepted by Python
    if not may_draw_syntax(verdict.value):
        assert not is_syntax(message), message


@settings(max_examples=400, deadline=None)
@given(value_text=mutated(serialised(VALUES)))
def test_skipped_value_verdict_agrees_with_python(value_text: str) -> None:
    """Under an unknown key only the JSON syntax of the value counts."""
    text = '{"arm_arc": 0.7, "coupler_arc": 0.5, "x":' + value_text + "}"
    verdict = Verdict(text)
    message = decode(text)
    event(f"python {'accepts' if verdict.valid else 'rejects'}{' (special)' if verdict.special else ''}")
    if verdict.valid:
        assert verdict.top_pairs is not None
        # A mutation may add members; it cannot spell a known key, but stay safe.
        assume(sorted(k for k, _ in verdict.top_pairs if k in KNOWN_KEYS) == ["arm_arc", "coupler_arc"])
        if not verdict.special:
            assert message is None, message
            return
    assert message is not None
    assert is_syntax(message), message
    assert_position_within(text, message)
    if verdict.valid and not verdict.beyond_double:
        assert any(message.startswith(m) for m in SURROGATE_MESSAGES), message
    if verdict.valid and not verdict.lone_surrogate:
        assert message.startswith("number out of range"), message


# --------------------------------------------------------------------------------------------
# Numbers and strings against Python's own conversions


@settings(max_examples=300, deadline=None)
@given(token=NUMBER_TOKENS | st.floats(allow_nan=False, allow_infinity=False).map(repr))
def test_numbers_convert_like_python_float(token: str) -> None:
    """Python's float() of a decimal text is correctly rounded, and so is the decoder."""
    expected = float(token)
    text = f"[{token}, 0]"
    if math.isinf(expected):
        assert decode(text) == f"number out of range at line 1 column {len(token) + 1}"
    else:
        assert bits(Arm.from_json(text).arm_arc()) == bits(expected)


@settings(max_examples=200, deadline=None)
@given(n=st.integers(min_value=-(2**64), max_value=2**64) | st.integers().map(lambda k: k * 10**300))
def test_integers_convert_like_python_int_to_float(n: int) -> None:
    text = f"[{n}, 0]"
    try:
        expected = float(n)
    except OverflowError:
        assert decode(text) == f"number out of range at line 1 column {len(str(n)) + 1}"
        return
    assert bits(Arm.from_json(text).arm_arc()) == bits(expected)
    # Described as an integer exactly when a 64-bit signed or unsigned integer holds it.
    message = decode(str(n))
    assert message is not None
    if -(2**63) <= n < 2**64:
        assert message == f"invalid type: integer `{n}`, expected struct SphericalLinkGeometry at line 1 column {len(str(n))}"
    else:
        assert message.startswith("invalid type: floating point `"), message


@settings(max_examples=300, deadline=None)
@given(s=st.text(), ascii_only=st.booleans())
def test_branch_names_are_decoded_strings(s: str, ascii_only: bool) -> None:
    """Escapes, surrogate pairs and UTF-8 decode to the same text as in Python, and columns
    count UTF-8 bytes."""
    name = json.dumps(s, ensure_ascii=ascii_only)
    text = f"[1, 2, {name}]"
    message = decode(text)
    if s in ("positive", "negative"):
        assert message is None
        return
    column = len(f"[1, 2, {name}".encode())
    assert message == f"unknown variant `{s}`, expected `positive` or `negative` at line 1 column {column}"


@settings(max_examples=200, deadline=None)
@given(s=st.text(st.characters(blacklist_categories=("Cs", "Cc"))), ascii_only=st.booleans())
def test_string_descriptions_escape_quote_and_backslash(s: str, ascii_only: bool) -> None:
    text = json.dumps(s, ensure_ascii=ascii_only)
    shown = s.replace("\\", "\\\\").replace('"', '\\"')
    assert decode(text) == (
        f'invalid type: string "{shown}", expected struct SphericalLinkGeometry at line 1 column {len(text.encode())}'
    )
