#include <vornalt_torso_kinematics/neck/neck.hpp>

#include <cmath>

namespace vornalt_torso_kinematics::neck {
namespace {

// The 3x3 identity with every off-diagonal entry +0.0.
constexpr Mat3 identity() {
  return {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
}

// The yaw factor about z; the exact identity for a zero angle.
Mat3 yaw_factor(double yaw) {
  if (yaw == 0.0) return identity();
  const core::SinCos t = core::sin_cos(yaw);
  return {{{t.cos, -t.sin, 0.0}, {t.sin, t.cos, 0.0}, {0.0, 0.0, 1.0}}};
}

// The pitch factor about y; the exact identity for a zero angle.
Mat3 pitch_factor(double pitch) {
  if (pitch == 0.0) return identity();
  const core::SinCos t = core::sin_cos(pitch);
  return {{{t.cos, 0.0, t.sin}, {0.0, 1.0, 0.0}, {-t.sin, 0.0, t.cos}}};
}

// The roll factor about x; the exact identity for a zero angle.
Mat3 roll_factor(double roll) {
  if (roll == 0.0) return identity();
  const core::SinCos t = core::sin_cos(roll);
  return {{{1.0, 0.0, 0.0}, {0.0, t.cos, -t.sin}, {0.0, t.sin, t.cos}}};
}

// The product a * b, each entry the sum of all three terms added in index order.
Mat3 multiply(const Mat3& a, const Mat3& b) {
  Mat3 p;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      p[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    }
  }
  return p;
}

}  // namespace

// Yaw, then pitch about the new y, then roll about the newest x: (Rz * Ry) * Rx.
Mat3 fk(const JointTriple& joints) {
  return multiply(multiply(yaw_factor(joints.yaw), pitch_factor(joints.pitch)),
                  roll_factor(joints.roll));
}

// Pitch from r[2][0], yaw from column 0, roll from row 2; gimbal lock when |r[2][0]| nears 1.
IkResult ik(const Mat3& r) {
  const double x = r[2][0];
  // Also trips for |x| > 1 and an infinite x, so asin never leaves its domain; NaN passes.
  if (1.0 - std::fabs(x) < kGimbalLockTolerance) return GimbalLock{};
  const double pitch = std::asin(-x);
  const double yaw = std::atan2(r[1][0], r[0][0]);
  const double roll = std::atan2(r[2][1], r[2][2]);
  return JointTriple{yaw, pitch, roll};
}

}  // namespace vornalt_torso_kinematics::neck
