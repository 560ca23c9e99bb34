// A literal copy of the unfused forward kinematics and small-circle intersection.
#include "unfused_arm.hpp"

#include <cmath>

namespace vornalt_torso_kinematics::unfused {

using arm::Branch;
using arm::FkSolution;
using arm::kAuxiliaryAxisLimit;
using arm::kDegenerateTolerance;
using arm::LoopNotClosed;

namespace {

// Sine and cosine of a joint angle; an angle of exactly zero is the identity turn.
core::SinCos joint_turn(double theta) {
  if (theta == 0.0) return {0.0, 1.0};
  return core::sin_cos(theta);
}

// v divided componentwise by its Euclidean length.
Vec3 divided(const Vec3& v, double length) {
  return {v.x / length, v.y / length, v.z / length};
}

double norm(const Vec3& v) {
  return std::sqrt(core::dot(v, v));
}

// The part of v orthogonal to the unit vector n.
Vec3 reject(const Vec3& v, const Vec3& n) {
  const double along = core::dot(v, n);
  return {v.x - along * n.x, v.y - along * n.y, v.z - along * n.z};
}

}  // namespace

std::optional<Vec3> intersect_small_circles(const Vec3& center_a, const Vec3& center_b,
                                            double radius_a, double radius_b, double sign) {
  double d = core::dot(center_a, center_b);
  if (d < -1.0) d = -1.0;
  if (d > 1.0) d = 1.0;
  // s is the sine of the arc between the centres.
  const double s = std::sqrt(1.0 - d * d);
  if (s < kDegenerateTolerance) return std::nullopt;
  // The point is alpha * a + beta * t + sign * sqrt(h) * n in the orthonormal frame (a, t, n).
  const double alpha = std::cos(radius_a);
  const double beta = (std::cos(radius_b) - alpha * d) / s;
  const double h = 1.0 - alpha * alpha - beta * beta;
  if (h < 0.0) return std::nullopt;
  const Vec3 n = divided(core::cross(center_a, center_b), s);
  const Vec3 t = core::cross(n, center_a);
  const double off_plane = sign * std::sqrt(h);
  return Vec3{alpha * center_a.x + beta * t.x + off_plane * n.x,
              alpha * center_a.y + beta * t.y + off_plane * n.y,
              alpha * center_a.z + beta * t.z + off_plane * n.z};
}

FkResult forward_kinematics(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  const double m = geometry.mirror ? -1.0 : 1.0;
  const auto [sin_a, cos_a] = core::sin_cos(geometry.arm_arc);
  const core::SinCos turn_a = joint_turn(theta_a);
  const core::SinCos turn_b = joint_turn(theta_b);

  // Tip A: (m sin a, 0, cos a) turned by theta_a about v_1 = +z.
  const Vec3 v_2{m * sin_a * turn_a.cos, m * sin_a * turn_a.sin, cos_a};
  // Tip B: (m cos a, 0, sin a) turned by theta_b about v_5 = (m, 0, 0).
  const Vec3 v_4{m * cos_a, -m * sin_a * turn_b.sin, sin_a * turn_b.cos};

  const double branch_sign = geometry.branch == Branch::negative ? -1.0 : 1.0;
  const std::optional<Vec3> closed =
      intersect_small_circles(v_2, v_4, geometry.coupler_arc, geometry.coupler_arc, branch_sign);
  if (!closed) return LoopNotClosed{};
  const Vec3 v_3 = *closed;

  // The x axis points from v_3 towards the midpoint of the tips, tangent to the sphere.
  const Vec3 tip_sum{v_2.x + v_4.x, v_2.y + v_4.y, v_2.z + v_4.z};
  const Vec3 u = divided(tip_sum, norm(tip_sum));
  const Vec3 w = reject(u, v_3);
  const double w_norm = norm(w);
  Vec3 x_axis;
  if (w_norm > kDegenerateTolerance) {
    x_axis = divided(w, w_norm);
  } else {
    // Stretched to the workspace limit: v_3 is the midpoint itself, so any axis across it
    // serves; take the body axis least aligned with v_3.
    const Vec3 aux =
        std::abs(v_3.x) < kAuxiliaryAxisLimit ? Vec3{1.0, 0.0, 0.0} : Vec3{0.0, 1.0, 0.0};
    const Vec3 across = reject(aux, v_3);
    x_axis = divided(across, norm(across));
  }
  const Vec3 y_axis = core::cross(v_3, x_axis);

  FkSolution solution;
  solution.rotation = {
      {{x_axis.x, y_axis.x, v_3.x}, {x_axis.y, y_axis.y, v_3.y}, {x_axis.z, y_axis.z, v_3.z}}};
  solution.v_2 = v_2;
  solution.v_3 = v_3;
  solution.v_4 = v_4;
  return solution;
}

}  // namespace vornalt_torso_kinematics::unfused
