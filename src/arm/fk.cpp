#include <vornalt_torso_kinematics/arm/fk.hpp>

#include <cmath>

namespace vornalt_torso_kinematics::arm {
namespace {

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

// Tip A: (m sin a, 0, cos a) turned by theta_a about v_1 = +z. Tip B: (m cos a, 0, sin a)
// turned by theta_b about v_5 = (m, 0, 0).
void place_tips(const detail::LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b, Vec3& v_2,
                Vec3& v_4) {
  const double m = link.mirror_sign;
  const auto [sin_a, cos_a] = link.arm;
  v_2 = {m * sin_a * turn_a.cos, m * sin_a * turn_a.sin, cos_a};
  v_4 = {m * cos_a, -m * sin_a * turn_b.sin, sin_a * turn_b.cos};
}

// The tips and the coupler joint, which lies at arc coupler_arc from both; false when the loop
// does not close.
inline bool close_loop(const detail::LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b,
                       Vec3& v_2, Vec3& v_4, Vec3& v_3) {
  place_tips(link, turn_a, turn_b, v_2, v_4);
  detail::CircleMeeting meeting;
  if (!detail::circles_meet(v_2, v_4, link.cos_coupler, link.cos_coupler, meeting)) return false;
  detail::meeting_point(detail::meeting_points(v_2, v_4, meeting), link.branch_sign, v_3);
  return true;
}

// Whether the loop closes, decided without the square root and the division of the
// intersection, where that is safe: +1 when it clearly closes, -1 when it clearly does not, 0
// when the intersection itself has to decide (near either limit, or with a not-a-number).
//
// The intersection tests s = sqrt(x) < 1e-12 and h = (1 - alpha^2) - beta^2 < 0, with
// x = 1 - d^2 and beta = (alpha - alpha d) / s, each step rounded. Here x >= 1e-20, so s is
// far above 1e-12; and rounded h has the sign of (1 - alpha^2) x - (alpha - alpha d)^2 (the
// first two factors and the last difference as the intersection rounds them), since the
// rounding of s, beta and beta^2 moves beta^2 by a few units in the last place, while the two
// products differ here by more than 1e-9 of their sum. A square below 1e-200 is left to the
// intersection, where beta^2 could lose digits to underflow.
int clear_closure(const Vec3& v_2, const Vec3& v_4, double cos_coupler) {
  constexpr double kFarFromCoincident = 1e-20;
  constexpr double kMargin = 1e-9;
  constexpr double kSmallestSquare = 1e-200;
  double d = core::dot(v_2, v_4);
  if (d < -1.0) d = -1.0;
  if (d > 1.0) d = 1.0;
  const double x = 1.0 - d * d;
  if (!(x >= kFarFromCoincident)) return 0;
  const double alpha = cos_coupler;
  const double across = alpha - alpha * d;
  const double rhs = (1.0 - alpha * alpha) * x;
  const double lhs = across * across;
  const double margin = kMargin * (rhs + lhs);
  if (rhs - lhs > margin) return 1;
  if (lhs - rhs > margin && lhs >= kSmallestSquare) return -1;
  return 0;
}

// Forward kinematics from the terms of the geometry and the turns; inlined into
// forward_kinematics, whose result it then fills in place.
inline bool solve(const detail::LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b,
                  FkSolution& solution) {
  Vec3 v_2;
  Vec3 v_4;
  Vec3 v_3;
  if (!close_loop(link, turn_a, turn_b, v_2, v_4, v_3)) return false;

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

  solution.rotation = {
      {{x_axis.x, y_axis.x, v_3.x}, {x_axis.y, y_axis.y, v_3.y}, {x_axis.z, y_axis.z, v_3.z}}};
  solution.v_2 = v_2;
  solution.v_3 = v_3;
  solution.v_4 = v_4;
  return true;
}

}  // namespace

std::optional<Vec3> intersect_small_circles(const Vec3& center_a, const Vec3& center_b,
                                            double radius_a, double radius_b, double sign) {
  detail::CircleMeeting meeting;
  if (!detail::circles_meet(center_a, center_b, std::cos(radius_a), std::cos(radius_b), meeting)) {
    return std::nullopt;
  }
  Vec3 point;
  detail::meeting_point(detail::meeting_points(center_a, center_b, meeting), sign, point);
  return point;
}

bool detail::solve_linkage(const LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b,
                           FkSolution& solution) {
  return solve(link, turn_a, turn_b, solution);
}

bool detail::coupler_joint(const LinkTerms& link, core::SinCos turn_a, core::SinCos turn_b,
                           Vec3& v_3) {
  Vec3 v_2;
  Vec3 v_4;
  return close_loop(link, turn_a, turn_b, v_2, v_4, v_3);
}

FkResult forward_kinematics(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  FkSolution solution;
  if (!solve(detail::link_terms(geometry), detail::joint_turn(theta_a), detail::joint_turn(theta_b),
             solution)) {
    return LoopNotClosed{};
  }
  return solution;
}

bool loop_closes(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  const detail::LinkTerms link = detail::link_terms(geometry);
  Vec3 v_2;
  Vec3 v_4;
  place_tips(link, detail::joint_turn(theta_a), detail::joint_turn(theta_b), v_2, v_4);
  if (const int clear = clear_closure(v_2, v_4, link.cos_coupler); clear != 0) return clear > 0;
  detail::CircleMeeting meeting;
  return detail::circles_meet(v_2, v_4, link.cos_coupler, link.cos_coupler, meeting);
}

}  // namespace vornalt_torso_kinematics::arm
