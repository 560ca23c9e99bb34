// The steps of the arm's forward kinematics, shared by its routines: the tips of the input arms,
// the small-circle intersection that closes the loop, and the end-effector frame. A header of
// the library's own (not installed), so that the inverse solvers run these steps inline for
// each candidate; every routine that runs them gets the same bits from the same operands.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry.hpp>
#include <vornalt_torso_kinematics/core/types.hpp>

namespace vornalt_torso_kinematics::arm::linkage {

// Sine and cosine of a joint angle; an angle of exactly zero (of either sign) is the identity
// turn, without a call of sincos.
inline core::SinCos joint_turn(double theta) {
  if (theta == 0.0) return {0.0, 1.0};
  return core::sin_cos(theta);
}

// Angles up to this magnitude have approximate sines and cosines (approximate_sin_cos).
inline constexpr double kApproximateAngleLimit = 1e4;
// Each approximate sine and cosine lies within this of the exact value.
inline constexpr double kApproximateTrigError = 1e-12;

// Sine and cosine of `angle`, each within kApproximateTrigError of the exact values; false, with
// `out` unchanged, for an angle beyond kApproximateAngleLimit in magnitude or not a number. For
// deciding what a wide margin decides, without the maths library.
//
// An angle within pi/4 of zero is its own reduced angle r; a larger one gives r = angle - k pi/2,
// |r| <= pi/4 (1 + 1e-15), in two steps: pi/2 is kHalfPiHigh (33 significant bits, so
// k kHalfPiHigh is exact for |k| <= 6367, and the first difference is exact by Sterbenz's lemma)
// plus kHalfPiLow, which leaves r within 1e-16 of its exact value. The Taylor polynomials of
// sin r (to r^13) and cos r (to r^12) then err by at most their first omitted terms, 2e-14 and
// 4e-13, and their evaluation by a few 1e-16.
inline bool approximate_sin_cos(double angle, core::SinCos& out) {
  constexpr double kTwoOverPi = 0.6366197723675814;
  constexpr double kHalfPiHigh = 0x1.921fb544p+0;
  constexpr double kHalfPiLow = 0x1.0b4611a626331p-34;
  constexpr double kQuarterPi = 0.78539816339744828;
  // Taylor coefficients, highest power first: 1/13!, -1/11!, ..., -1/3! and 1/12!, ..., -1/2!.
  constexpr double kSinTerms[] = {1.0 / 6227020800, -1.0 / 39916800, 1.0 / 362880,
                                  -1.0 / 5040,      1.0 / 120,       -1.0 / 6};
  constexpr double kCosTerms[] = {1.0 / 479001600, -1.0 / 3628800, 1.0 / 40320,
                                  -1.0 / 720,      1.0 / 24,       -0.5};
  if (!(std::fabs(angle) <= kApproximateAngleLimit)) return false;
  std::int64_t k = 0;
  double r = angle;
  if (!(std::fabs(angle) <= kQuarterPi)) {
    const double scaled = angle * kTwoOverPi;
    k = static_cast<std::int64_t>(scaled + (scaled < 0.0 ? -0.5 : 0.5));
    const double turns = static_cast<double>(k);
    r = (angle - turns * kHalfPiHigh) - turns * kHalfPiLow;
  }
  const double r2 = r * r;
  double sin_tail = kSinTerms[0];
  double cos_tail = kCosTerms[0];
  for (std::size_t i = 1; i < std::size(kSinTerms); ++i) {
    sin_tail = sin_tail * r2 + kSinTerms[i];
    cos_tail = cos_tail * r2 + kCosTerms[i];
  }
  const double sin_r = r + r * r2 * sin_tail;
  const double cos_r = 1.0 + r2 * cos_tail;
  switch (k & 3) {
    case 0:
      out = {sin_r, cos_r};
      break;
    case 1:
      out = {cos_r, -sin_r};
      break;
    case 2:
      out = {-sin_r, -cos_r};
      break;
    default:
      out = {-cos_r, sin_r};
      break;
  }
  return true;
}

// What forward kinematics takes from the geometry.
struct LinkTerms {
  double mirror_sign;  // m: -1 for the mirrored arm, else +1
  core::SinCos arm;    // sine and cosine of arm_arc, from one sincos
  double cos_coupler;  // cosine of coupler_arc, the radius of both circles about the tips
  double branch_sign;  // -1 for the negative branch, else +1
};

// m: -1 for the mirrored arm, else +1.
inline double mirror_sign(const SphericalLinkGeometry& geometry) {
  return geometry.mirror ? -1.0 : 1.0;
}

inline LinkTerms link_terms(const SphericalLinkGeometry& geometry) {
  return {mirror_sign(geometry), core::sin_cos(geometry.arm_arc), std::cos(geometry.coupler_arc),
          geometry.branch == Branch::negative ? -1.0 : 1.0};
}

// The part of the intersection of two small circles that decides whether they meet.
struct CircleMeeting {
  double d;      // a . b, clamped to [-1, 1]
  double s;      // sine of the arc between the centres
  double alpha;  // cosine of the radius about a
  double beta;   // component of the points along the tangent at a towards b
  double h;      // squared component of the points across the plane of both centres
};

// Whether the circles about the unit vectors a and b, whose radii have the cosines
// cos_radius_a and cos_radius_b, meet; fills `meeting` when they do.
inline bool circles_meet(const Vec3& a, const Vec3& b, double cos_radius_a, double cos_radius_b,
                         CircleMeeting& meeting) {
  double d = core::dot(a, b);
  if (d < -1.0) d = -1.0;
  if (d > 1.0) d = 1.0;
  const double s = std::sqrt(1.0 - d * d);
  if (s < kDegenerateTolerance) return false;
  const double alpha = cos_radius_a;
  const double beta = (cos_radius_b - alpha * d) / s;
  const double h = 1.0 - alpha * alpha - beta * beta;
  if (h < 0.0) return false;
  meeting = {d, s, alpha, beta, h};
  return true;
}

// Both points where the circles meet: base + sign * root * normal in the orthonormal frame
// (a, t, n) of the plane of the centres, t = n x a the tangent at a towards b.
struct MeetingPoints {
  Vec3 base;    // alpha * a + beta * t
  Vec3 normal;  // n = (a x b) / s
  double root;  // sqrt(h)
};

inline MeetingPoints meeting_points(const Vec3& a, const Vec3& b, const CircleMeeting& meeting) {
  const Vec3 cross = core::cross(a, b);
  const Vec3 n{cross.x / meeting.s, cross.y / meeting.s, cross.z / meeting.s};
  const Vec3 t = core::cross(n, a);
  return {{meeting.alpha * a.x + meeting.beta * t.x, meeting.alpha * a.y + meeting.beta * t.y,
           meeting.alpha * a.z + meeting.beta * t.z},
          n,
          std::sqrt(meeting.h)};
}

// The point on the side of a x b for sign +1, on the other side for -1.
inline void meeting_point(const MeetingPoints& points, double sign, Vec3& point) {
  const double off_plane = sign * points.root;
  point = {points.base.x + off_plane * points.normal.x, points.base.y + off_plane * points.normal.y,
           points.base.z + off_plane * points.normal.z};
}

// v divided componentwise by its Euclidean length.
inline Vec3 divided(const Vec3& v, double length) {
  return {v.x / length, v.y / length, v.z / length};
}

inline double norm(const Vec3& v) {
  return std::sqrt(core::dot(v, v));
}

// The part of v orthogonal to the unit vector n.
inline Vec3 reject(const Vec3& v, const Vec3& n) {
  const double along = core::dot(v, n);
  return {v.x - along * n.x, v.y - along * n.y, v.z - along * n.z};
}

// Tip A: (m sin a, 0, cos a) turned by theta_a about v_1 = +z. Tip B: (m cos a, 0, sin a)
// turned by theta_b about v_5 = (m, 0, 0).
inline void place_tips(double m, core::SinCos arm, core::SinCos turn_a, core::SinCos turn_b,
                       Vec3& v_2, Vec3& v_4) {
  const auto [sin_a, cos_a] = arm;
  v_2 = {m * sin_a * turn_a.cos, m * sin_a * turn_a.sin, cos_a};
  v_4 = {m * cos_a, -m * sin_a * turn_b.sin, sin_a * turn_b.cos};
}

// The tips and the coupler joint, which lies at arc coupler_arc from both; false when the loop
// does not close.
inline bool close_loop(const LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b, Vec3& v_2,
                       Vec3& v_4, Vec3& v_3) {
  place_tips(link.mirror_sign, link.arm, turn_a, turn_b, v_2, v_4);
  CircleMeeting meeting;
  if (!circles_meet(v_2, v_4, link.cos_coupler, link.cos_coupler, meeting)) return false;
  meeting_point(meeting_points(v_2, v_4, meeting), link.branch_sign, v_3);
  return true;
}

// The end-effector frame of a closed loop, whose columns are the x axis, the y axis and v_3:
// the x axis points from v_3 towards the midpoint of the tips, tangent to the sphere.
inline Mat3 end_effector_frame(const Vec3& v_2, const Vec3& v_4, const Vec3& v_3) {
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
  return {{{x_axis.x, y_axis.x, v_3.x}, {x_axis.y, y_axis.y, v_3.y}, {x_axis.z, y_axis.z, v_3.z}}};
}

// Forward kinematics from the terms of the geometry and the turns of both joints, written into
// `solution` in place; false, with `solution` partly written, when the loop does not close.
inline bool solve_linkage(const LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b,
                          FkSolution& solution) {
  if (!close_loop(link, turn_a, turn_b, solution.v_2, solution.v_4, solution.v_3)) return false;
  solution.rotation = end_effector_frame(solution.v_2, solution.v_4, solution.v_3);
  return true;
}

}  // namespace vornalt_torso_kinematics::arm::linkage
