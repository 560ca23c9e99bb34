// Yaw-pitch-roll kinematics of the neck: R = Rz(yaw) * Ry(pitch) * Rx(roll) and back. Pure
// functions: no allocation, no state, no exceptions.
#pragma once

#include <variant>

#include <vornalt_torso_kinematics/core/types.hpp>

namespace vornalt_torso_kinematics::neck {

using core::Mat3;

// The neck's joint angles in radians, in this order.
struct JointTriple {
  double yaw;
  double pitch;
  double roll;
};

// The pitch is within reach of a right angle (±π/2), where yaw and roll are not separable.
struct GimbalLock {
  static constexpr const char* message = "Gimbal lock: pitch is too close to ±π/2.";
};

using IkResult = std::variant<JointTriple, GimbalLock>;

// 1 - |r[2][0]| below this is gimbal lock.
inline constexpr double kGimbalLockTolerance = 1e-6;

// The head frame's rotation in the body frame for the joint triple.
Mat3 fk(const JointTriple& joints);

// The joint triple of a head rotation, read from r[0][0], r[1][0], r[2][0], r[2][1], r[2][2].
IkResult ik(const Mat3& r);

}  // namespace vornalt_torso_kinematics::neck
