// The JSON form of an arm's geometry (an arms.json record): decoding it from text, with a
// message and position for every text that is not a record.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include <vornalt_torso_kinematics/arm/geometry.hpp>

namespace vornalt_torso_kinematics::arm {

// Why a JSON text is not a geometry record: one message ending in " at line L column C".
struct DecodeError {
  std::string message;
};

// Memory ran out: for the nesting record of a value nested deeper than 64 levels that the
// decoder skips (the text may be a valid record), or for a message, which may quote a string
// of the text and so be as long as the text itself.
struct DecodeOutOfMemory {};

using DecodeResult = std::variant<SphericalLinkGeometry, DecodeError, DecodeOutOfMemory>;

// Decodes one geometry record, in its object or array form, from UTF-8 JSON text.
DecodeResult decode_geometry(std::string_view json);

}  // namespace vornalt_torso_kinematics::arm
