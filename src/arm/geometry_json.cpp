// Decoder of the arm geometry record from JSON text, on top of the scanner: the record's
// grammar in its object and array forms, an iterative skipper for the values of unknown keys
// and for values of the wrong type, and the messages. One forward pass over the bytes; every
// error stops decoding and carries a fixed text plus the line and column of the offending
// point. Nothing is allocated on the success path except the nesting record of a skipped
// value deeper than 64 levels; when that, or a message (which may quote the text's strings),
// cannot be allocated, decoding stops without a message.
#include <vornalt_torso_kinematics/arm/geometry_json.hpp>

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <vornalt_torso_kinematics/arm/json_scanner.hpp>

namespace vornalt_torso_kinematics::arm {
namespace {

using namespace json;  // NOLINT: the scanner's vocabulary

// Magnitude of the most negative 64-bit signed integer.
constexpr std::uint64_t kMostNegativeMagnitude =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;

// Room for the shortest round-trip text of any double.
constexpr std::size_t kDoubleTextCapacity = 64;

// Bits of one word of the nesting record.
constexpr std::size_t kBitsPerWord = 64;

// ---------------------------------------------------------------------------------------
// Messages

// A string's text for a message: quoted, with quote, backslash and control bytes escaped.
std::string quoted(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += byte;
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u{";
      if (c >= 0x10) out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
      out += '}';
    } else {
      out += byte;
    }
  }
  out += '"';
  return out;
}

// Whether an integer token fits a 64-bit unsigned (non-negative) or signed (negative) integer.
// "-0" does not: it stands for the float −0.0, which no integer holds.
bool fits_integer(std::string_view token) {
  const bool negative = token.front() == '-';
  const std::string_view digits = token.substr(negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  const auto [stop, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (error != std::errc{} || stop != digits.data() + digits.size()) return false;
  return !negative || (magnitude != 0 && magnitude <= kMostNegativeMagnitude);
}

// Describes a number for an "invalid type" message.
std::string describe_number(const NumberToken& number) {
  if (number.integral && fits_integer(number.text)) {
    return "integer `" + std::string(number.text) + "`";
  }
  std::array<char, kDoubleTextCapacity> buffer{};
  const auto [stop, error] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), number.value);
  std::string shortest(buffer.data(), error == std::errc{} ? stop : buffer.data());
  if (shortest.find_first_not_of("-0123456789") == std::string::npos) shortest += ".0";
  return "floating point `" + shortest + "`";
}

// Describes a literal for an "invalid type" message.
std::string describe_literal(TokenKind kind) {
  if (kind == TokenKind::literal_null) return std::string(literal_text(kind));
  return "boolean `" + std::string(literal_text(kind)) + "`";
}

// Describes the already validated value whose first byte is at `begin`, for an "invalid
// type" message; a number or string is read again from there.
std::string describe_value(std::string_view text, std::size_t begin, TokenKind kind) {
  switch (kind) {
    case TokenKind::begin_array:
      return "sequence";
    case TokenKind::begin_object:
      return "map";
    case TokenKind::string:
      return "string " + quoted(decode_string_at(text, begin));
    case TokenKind::number: {
      Scanner again{text, Position{begin, 0, 0}};
      NumberToken number;
      scan_number(again, number);
      return describe_number(number);
    }
    default:
      return describe_literal(kind);
  }
}

// ---------------------------------------------------------------------------------------
// Parser

// The scanner and the text of the first error, which ends decoding.
struct Decoder {
  Scanner scan;
  std::string message;
  bool out_of_memory = false;  // the nesting record could not grow: there is no message
};

// Records an error at the scanner's current point; returns false for the caller to pass on.
bool fail(Decoder& d, std::string message) {
  d.message = std::move(message);
  return false;
}

bool fail(Decoder& d, Fault fault) {
  return fail(d, std::string(fault_text(fault)));
}

// Records a syntax error just after the first byte of the offending character, or at the end.
bool fail_at_next(Decoder& d, Fault fault) {
  if (peek(d.scan) != kEndOfText) bump(d.scan);
  return fail(d, fault);
}

// Passes a scanner fault on as the decoder's error; true when there is none.
bool check(Decoder& d, Fault fault) {
  return fault == Fault::none || fail(d, fault);
}

// Kinds of the containers open around the current point of a skipped value, one bit per
// level (1 for an object), so that nesting costs neither stack frames nor a byte per level.
struct NestingRecord {
  std::uint64_t first_word = 0;      // levels 0 to 63
  std::vector<std::uint64_t> words;  // deeper levels
  std::size_t depth = 0;
};

// The word that holds the bit of `level`.
std::uint64_t& nesting_word(NestingRecord& open, std::size_t level) {
  const std::size_t index = level / kBitsPerWord;
  return index == 0 ? open.first_word : open.words[index - 1];
}

// Opens one more container level; false, with the decoder out of memory, when the record
// cannot grow.
bool push_level(Decoder& d, NestingRecord& open, bool is_object) {
  const std::size_t level = open.depth;
  if (level >= kBitsPerWord && level % kBitsPerWord == 0) {
    try {
      open.words.push_back(0);
    } catch (const std::bad_alloc&) {
      d.out_of_memory = true;
      return false;
    }
  }
  const std::uint64_t bit = std::uint64_t{1} << (level % kBitsPerWord);
  std::uint64_t& word = nesting_word(open, level);
  word = is_object ? (word | bit) : (word & ~bit);
  ++open.depth;
  return true;
}

// Whether the innermost open container is an object.
bool innermost_is_object(NestingRecord& open) {
  const std::size_t level = open.depth - 1;
  return (nesting_word(open, level) >> (level % kBitsPerWord)) & 1U;
}

// Consumes the colon after an object key.
bool read_colon(Decoder& d) {
  const int c = skip_whitespace(d.scan);
  if (c == ':') {
    bump(d.scan);
    return true;
  }
  if (c == kEndOfText) return fail(d, Fault::eof_object);
  return fail_at_next(d, Fault::expected_colon);
}

// Reads a key of a skipped object, and its colon.
bool skip_key(Decoder& d) {
  Discard ignored;
  return check(d, scan_string(d.scan, ignored)) && read_colon(d);
}

// Reads a string, literal or number for its syntax only.
bool skip_scalar(Decoder& d) {
  const TokenKind kind = classify(peek(d.scan));
  if (is_literal(kind)) return check(d, scan_literal(d.scan, kind));
  Discard ignored;
  NumberToken number;
  switch (kind) {
    case TokenKind::string:
      return check(d, scan_string(d.scan, ignored));
    case TokenKind::number:
      return check(d, scan_number(d.scan, number));
    case TokenKind::end_of_text:
      return fail(d, Fault::eof_value);
    default:
      return fail_at_next(d, Fault::expected_value);
  }
}

// How a kind of container reads between its values: the byte that closes it, the fault at
// the end of the text inside it, and the fault of anything but a comma or that byte after a
// value. The record's array closes after its fourth item, so nothing but ']' may follow it.
struct Container {
  int close;
  Fault end_of_text;
  Fault not_a_separator;
  bool more_allowed;
  bool keyed;  // an object: each value follows a string key
};
constexpr Container kObject{'}', Fault::eof_object, Fault::expected_comma_or_brace, true, true};
constexpr Container kArray{']', Fault::eof_list, Fault::expected_comma_or_bracket, true, false};
constexpr Container kFullRecordArray{']', Fault::eof_list, Fault::trailing_characters, false,
                                     false};

// Consumes a container's opening byte. Then either its closing byte follows (consumed;
// `empty`), or the first value's first byte is next (for an object, a key's quote). False on
// an error. Kept in line, like after_value, so that the skipper's loop makes no calls between
// tokens: out of line, the two cost a long record about a tenth of its decoding time.
[[gnu::always_inline]] inline bool open_container(Decoder& d, const Container& container,
                                                  bool& empty) {
  bump(d.scan);
  const int c = skip_whitespace(d.scan);
  empty = c == container.close;
  if (empty) {
    bump(d.scan);
    return true;
  }
  if (c == kEndOfText) return fail(d, container.end_of_text);
  if (container.keyed && c != '"') return fail_at_next(d, Fault::key_must_be_string);
  return true;
}

// After a value inside a container: either its closing byte (consumed; `closed`), or a comma
// after which the next value's first byte is next (for an object, a key's quote). False on an
// error.
[[gnu::always_inline]] inline bool after_value(Decoder& d, const Container& container,
                                               bool& closed) {
  closed = false;
  const int c = skip_whitespace(d.scan);
  if (c == container.close) {
    bump(d.scan);
    closed = true;
    return true;
  }
  if (c == kEndOfText) return fail(d, container.end_of_text);
  if (c != ',') return fail_at_next(d, container.not_a_separator);
  bump(d.scan);
  const int next = skip_whitespace(d.scan);
  if (next == container.close) return fail_at_next(d, Fault::trailing_comma);
  if (!container.more_allowed) return fail_at_next(d, Fault::trailing_characters);
  if (next == kEndOfText) return fail(d, Fault::eof_value);
  if (container.keyed && next != '"') return fail_at_next(d, Fault::key_must_be_string);
  return true;
}

// After a complete value inside a skipped one: consumes separators and closing brackets
// until another value is expected or the outermost value has ended (`finished`). False on an
// error.
bool close_levels(Decoder& d, NestingRecord& open, bool& finished) {
  finished = false;
  while (open.depth > 0) {
    const bool in_object = innermost_is_object(open);
    bool closed = false;
    if (!after_value(d, in_object ? kObject : kArray, closed)) return false;
    if (!closed) return !in_object || skip_key(d);
    --open.depth;
  }
  finished = true;
  return true;
}

// Reads any JSON value for its syntax only and discards it. Nesting is followed with a bit
// record instead of recursion, so any depth is read without exhausting the stack.
bool skip_value(Decoder& d) {
  NestingRecord open;
  for (;;) {
    const int c = skip_whitespace(d.scan);
    if (c == '[' || c == '{') {
      const Container& container = c == '{' ? kObject : kArray;
      bool empty = false;
      if (!open_container(d, container, empty)) return false;
      if (!empty) {
        if ((container.keyed && !skip_key(d)) || !push_level(d, open, container.keyed)) {
          return false;
        }
        continue;
      }
    } else if (!skip_scalar(d)) {
      return false;
    }
    bool finished = false;
    if (!close_levels(d, open, finished)) return false;
    if (finished) return true;
  }
}

// Reads the value that stands where `expected` was wanted and reports it as an invalid type
// just after it; a value that is not even JSON gives its syntax error instead.
bool fail_invalid_type(Decoder& d, std::string_view expected) {
  const std::size_t begin = d.scan.pos.bytes_read;
  const TokenKind kind = classify(peek(d.scan));
  if (!skip_value(d)) return false;
  return fail(d, "invalid type: " + describe_value(d.scan.text, begin, kind) + ", expected " +
                     std::string(expected));
}

// Reads an arc: any JSON number, as the nearest double.
bool read_f64(Decoder& d, double& out) {
  if (classify(skip_whitespace(d.scan)) != TokenKind::number) return fail_invalid_type(d, "f64");
  NumberToken number;
  if (!check(d, scan_number(d.scan, number))) return false;
  out = number.value;
  return true;
}

// Reads `mirror`: true or false.
bool read_bool(Decoder& d, bool& out) {
  const TokenKind kind = classify(skip_whitespace(d.scan));
  if (kind != TokenKind::literal_true && kind != TokenKind::literal_false) {
    return fail_invalid_type(d, "a boolean");
  }
  out = kind == TokenKind::literal_true;
  return check(d, scan_literal(d.scan, kind));
}

// Reads a Branch name (a string, next); an unknown name is reported just after it.
bool read_variant_name(Decoder& d, Branch& out) {
  const std::size_t begin = d.scan.pos.bytes_read;
  ShortText name;
  if (!check(d, scan_string(d.scan, name))) return false;
  if (equals(name, "positive")) {
    out = Branch::positive;
    return true;
  }
  if (equals(name, "negative")) {
    out = Branch::negative;
    return true;
  }
  return fail(d, "unknown variant `" + decode_string_at(d.scan.text, begin) +
                     "`, expected `positive` or `negative`");
}

// Reads a Branch: "positive", "negative", or an object of one such key whose value is null.
bool read_branch(Decoder& d, Branch& out) {
  const int c = skip_whitespace(d.scan);
  if (c == '"') return read_variant_name(d, out);
  if (c == kEndOfText) return fail(d, Fault::eof_value);
  if (c != '{') return fail_at_next(d, Fault::expected_value);
  bump(d.scan);
  if (skip_whitespace(d.scan) != '"') return fail_invalid_type(d, "variant identifier");
  if (!read_variant_name(d, out) || !read_colon(d)) return false;
  if (classify(skip_whitespace(d.scan)) != TokenKind::literal_null) {
    return fail_invalid_type(d, "unit variant");
  }
  if (!check(d, scan_literal(d.scan, TokenKind::literal_null))) return false;
  const int close = skip_whitespace(d.scan);
  if (close == '}') {
    bump(d.scan);
    return true;
  }
  if (close == kEndOfText) return fail(d, Fault::eof_object);
  return fail(d, Fault::expected_value);  // a second member: reported before it
}

// The object form's keys, in record order.
enum class Field : std::uint8_t { arm_arc, coupler_arc, branch, mirror, unknown };
constexpr std::array<std::string_view, 4> kFieldNames{"arm_arc", "coupler_arc", "branch", "mirror"};

// Which field a decoded key names.
Field match_field(const ShortText& key) {
  for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
    if (equals(key, kFieldNames[i])) return static_cast<Field>(i);
  }
  return Field::unknown;
}

// Reads the value of one member of the object form into its field, or skips it.
bool read_member_value(Decoder& d, Field field, SphericalLinkGeometry& geometry) {
  switch (field) {
    case Field::arm_arc:
      return read_f64(d, geometry.arm_arc);
    case Field::coupler_arc:
      return read_f64(d, geometry.coupler_arc);
    case Field::branch:
      return read_branch(d, geometry.branch);
    case Field::mirror:
      return read_bool(d, geometry.mirror);
    case Field::unknown:
      return skip_value(d);
  }
  return skip_value(d);
}

// Reads the object form, whose '{' is next: members in any order, unknown keys skipped.
bool read_object_form(Decoder& d, SphericalLinkGeometry& geometry) {
  std::array<bool, kFieldNames.size()> seen{};
  bool closed = false;
  if (!open_container(d, kObject, closed)) return false;
  while (!closed) {
    ShortText key;
    if (!check(d, scan_string(d.scan, key))) return false;
    const Field field = match_field(key);
    if (field != Field::unknown) {
      const auto index = static_cast<std::size_t>(field);
      if (seen[index]) {
        skip_whitespace(d.scan);
        return fail(d, "duplicate field `" + std::string(kFieldNames[index]) + "`");
      }
      seen[index] = true;
    }
    if (!read_colon(d) || !read_member_value(d, field, geometry) ||
        !after_value(d, kObject, closed)) {
      return false;
    }
  }
  for (const Field required : {Field::arm_arc, Field::coupler_arc}) {
    const auto index = static_cast<std::size_t>(required);
    if (!seen[index]) return fail(d, "missing field `" + std::string(kFieldNames[index]) + "`");
  }
  return true;
}

// The error of an array form with fewer than two items.
bool fail_length(Decoder& d, int items) {
  return fail(d, "invalid length " + std::to_string(items) +
                     ", expected struct SphericalLinkGeometry with 4 elements");
}

// Reads the array form, whose '[' is next: arm_arc, coupler_arc, then optionally branch and
// mirror.
bool read_array_form(Decoder& d, SphericalLinkGeometry& geometry) {
  bool closed = false;
  if (!open_container(d, kArray, closed)) return false;
  if (closed) return fail_length(d, 0);
  if (!read_f64(d, geometry.arm_arc) || !after_value(d, kArray, closed)) return false;
  if (closed) return fail_length(d, 1);
  if (!read_f64(d, geometry.coupler_arc) || !after_value(d, kArray, closed)) return false;
  if (closed) return true;
  if (!read_branch(d, geometry.branch) || !after_value(d, kArray, closed)) return false;
  if (closed) return true;
  return read_bool(d, geometry.mirror) && after_value(d, kFullRecordArray, closed);
}

// Reads the record in either form, then requires that only whitespace follows.
bool read_document(Decoder& d, SphericalLinkGeometry& geometry) {
  bool read = false;
  switch (skip_whitespace(d.scan)) {
    case '{':
      read = read_object_form(d, geometry);
      break;
    case '[':
      read = read_array_form(d, geometry);
      break;
    default:
      return fail_invalid_type(d, "struct SphericalLinkGeometry");
  }
  if (!read) return false;
  if (skip_whitespace(d.scan) == kEndOfText) return true;
  return fail_at_next(d, Fault::trailing_characters);
}

}  // namespace

DecodeResult decode_geometry(std::string_view json) {
  Decoder d{Scanner{json, Position{}}, std::string{}};
  SphericalLinkGeometry geometry{0.0, 0.0, Branch::positive, false};
  try {
    if (read_document(d, geometry)) return geometry;
    if (d.out_of_memory) return DecodeOutOfMemory{};
    const Position& at = d.scan.pos;
    return DecodeError{d.message + " at line " + std::to_string(at.lines_read + 1) + " column " +
                       std::to_string(at.bytes_into_line)};
  } catch (const std::bad_alloc&) {
    // A message that quotes a string of the text needs as much memory as the text.
    return DecodeOutOfMemory{};
  }
}

}  // namespace vornalt_torso_kinematics::arm
