// An arm's geometry: the two arc lengths of its spherical 5-bar linkage, the closure of the
// loop it uses and whether it is the mirrored (right) arm. Plain values; the JSON form of the
// record is read by geometry_json.hpp.
#pragma once

#include <cstdint>

namespace vornalt_torso_kinematics::arm {

// Which of the two closures of the 5-bar loop the arm uses.
enum class Branch : std::uint8_t { positive = 0, negative = 1 };

// One arm's geometry, held by value and never changed after construction.
struct SphericalLinkGeometry {
  double arm_arc;      // radians: arc from each fixed axis to its input-arm tip
  double coupler_arc;  // radians: arc of each coupler segment
  Branch branch;
  bool mirror;  // the right arm: joint B turns about -x instead of +x
};

// The geometry of the robot's left arm; the right arm is the same with `mirror` set.
inline constexpr SphericalLinkGeometry kDefaultLeft{0.7, 0.5, Branch::positive, false};
inline constexpr SphericalLinkGeometry kDefaultRight{0.7, 0.5, Branch::positive, true};

}  // namespace vornalt_torso_kinematics::arm
