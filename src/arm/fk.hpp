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

// The steps of the two routines above, for callers that run several of them on one geometry
// and share the sines and cosines between the runs (the candidate enumeration). Each step is
// the routines' own arithmetic on the same operands, so the results are the same bits.
namespace detail {

// Sine and cosine of a joint angle; an angle of exactly zero (of either sign) is the identity
// turn, without a call of sincos.
inline core::SinCos joint_turn(double theta) {
  if (theta == 0.0) return {0.0, 1.0};
  return core::sin_cos(theta);
}

// What forward kinematics takes from the geometry.
struct LinkTerms {
  double mirror_sign;  // m: -1 for the mirrored arm, else +1
  core::SinCos arm;    // sine and cosine of arm_arc, from one sincos
  double cos_coupler;  // cosine of coupler_arc, the radius of both circles about the tips
  double branch_sign;  // -1 for the negative branch, else +1
};

inline LinkTerms link_terms(const SphericalLinkGeometry& geometry) {
  return {geometry.mirror ? -1.0 : 1.0, core::sin_cos(geometry.arm_arc),
          std::cos(geometry.coupler_arc), geometry.branch == Branch::negative ? -1.0 : 1.0};
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

// Forward kinematics from the terms of the geometry and the turns of both joints, written into
// `solution`; false, with `solution` partly written, when the loop does not close.
bool solve_linkage(const LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b,
                   FkSolution& solution);

// The coupler joint v_3 of that solution alone, without the frame; false when the loop does
// not close.
bool coupler_joint(const LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b, Vec3& v_3);

}  // namespace detail

}  // namespace vornalt_torso_kinematics::arm
