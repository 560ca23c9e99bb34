#include <vornalt_torso_kinematics/arm/fk.hpp>

#include <cmath>

#include <vornalt_torso_kinematics/arm/linkage.hpp>

namespace vornalt_torso_kinematics::arm {
namespace {

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

}  // namespace

std::optional<Vec3> intersect_small_circles(const Vec3& center_a, const Vec3& center_b,
                                            double radius_a, double radius_b, double sign) {
  linkage::CircleMeeting meeting;
  if (!linkage::circles_meet(center_a, center_b, std::cos(radius_a), std::cos(radius_b), meeting)) {
    return std::nullopt;
  }
  Vec3 point;
  linkage::meeting_point(linkage::meeting_points(center_a, center_b, meeting), sign, point);
  return point;
}

FkResult forward_kinematics(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  FkSolution solution;
  if (!linkage::solve_linkage(linkage::link_terms(geometry), linkage::joint_turn(theta_a),
                              linkage::joint_turn(theta_b), solution)) {
    return LoopNotClosed{};
  }
  return solution;
}

bool loop_closes(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  const linkage::LinkTerms link = linkage::link_terms(geometry);
  Vec3 v_2;
  Vec3 v_4;
  linkage::place_tips(link, linkage::joint_turn(theta_a), linkage::joint_turn(theta_b), v_2, v_4);
  if (const int clear = clear_closure(v_2, v_4, link.cos_coupler); clear != 0) return clear > 0;
  linkage::CircleMeeting meeting;
  return linkage::circles_meet(v_2, v_4, link.cos_coupler, link.cos_coupler, meeting);
}

}  // namespace vornalt_torso_kinematics::arm
