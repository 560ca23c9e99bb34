// Plain value types shared by the arm and neck kinematics: vectors, matrices and joint pairs
// in 64-bit floats, in the right-handed body frame; and the sine-cosine pair, dot and cross
// products that both compute with.
#pragma once

#include <array>
#include <cmath>

namespace vornalt_torso_kinematics::core {

// A vector (x, y, z) in the body frame; a unit vector where it stands for a joint axis.
struct Vec3 {
  double x;
  double y;
  double z;
};

// A 3x3 matrix indexed [row][column]; for a rotation, its columns are the rotated frame's
// x, y and z axes expressed in the body frame.
using Mat3 = std::array<std::array<double, 3>, 3>;

// An arm's driven joint angles in radians.
struct JointPair {
  double theta_a;
  double theta_b;
};

// The sine and cosine of one angle.
struct SinCos {
  double sin;
  double cos;
};

// Sine and cosine from one evaluation of the C library's sincos.
inline SinCos sin_cos(double angle) {
  SinCos sc;
  ::sincos(angle, &sc.sin, &sc.cos);
  return sc;
}

// Dot product, summed in index order.
inline double dot(const Vec3& a, const Vec3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Cross product a x b.
inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace vornalt_torso_kinematics::core
