// Forward kinematics of a spherical 5-bar arm, and the small-circle intersection that closes
// its loop. Pure functions: no allocation, no state, no exceptions.
#pragma once

#include <cmath>
#include <optional>
#include <variant>

#include <vornalt_torso_kinematics/arm/geometry.hpp>
#include <vornalt_torso_kinematics/core/types.hpp>

namespace vornalt_torso_kinematics::arm {

using core::JointPair;
using core::Mat3;
using core::Vec3;

// The end-effector frame and the moving joints of the linkage for one joint pair.
struct FkSolution {
  Mat3 rotation;  // columns: x axis, y axis, and the pointing direction v_3
  Vec3 v_2;       // tip of input arm A
  Vec3 v_3;       // coupler joint, the end-effector's pointing direction
  Vec3 v_4;       // tip of input arm B
};

// The two input-arm tips are too far apart (or coincide, or are antipodal) for the coupler.
struct LoopNotClosed {
  static constexpr const char* message =
      "Spherical 5-bar loop does not close: v_2 and v_4 are too far apart for the coupler.";
};

using FkResult = std::variant<FkSolution, LoopNotClosed>;

// Below this sine of the arc between two centres, the centres coincide or are antipodal.
inline constexpr double kDegenerateTolerance = 1e-12;
// |v_3.x| below this picks +x as the auxiliary axis of a stretched linkage, else +y.
inline constexpr double kAuxiliaryAxisLimit = 0.9;

// Orientation of the end-effector for the joint pair (theta_a, theta_b).
FkResult forward_kinematics(const SphericalLinkGeometry& geometry, double theta_a, double theta_b);

// The point at arc radius_a from center_a and arc radius_b from center_b, on the side of
// center_a x center_b for sign +1 and on the other side for -1; nothing when the circles do
// not meet or the centres coincide or are antipodal. The centres must be unit vectors.
std::optional<Vec3> intersect_small_circles(const Vec3& center_a, const Vec3& center_b,
                                            double radius_a, double radius_b, double sign);

// Whether forward_kinematics closes the loop for (theta_a, theta_b): the same tips and the same
// intersection test, without the coupler joint and the frame.
bool loop_closes(const SphericalLinkGeometry& geometry, double theta_a, double theta_b);

}  // namespace vornalt_torso_kinematics::arm
