#include <vornalt_torso_kinematics/arm/fk.hpp>

#include <cmath>

#include <vornalt_torso_kinematics/arm/linkage.hpp>

namespace vornalt_torso_kinematics::arm {
namespace {

// Whether the loop closes, decided from approximate sines and cosines where a wide margin
// decides it: +1 when it closes, -1 when it does not, 0 when the maths library's values have to
// decide (near the limit, with the tips nearly coinciding or antipodal, or with an angle or arc
// that approximate_sin_cos does not take).
//
// With d = v_2 . v_4 and alpha = cos(coupler_arc), the loop closes exactly when the intersection
// about the tips finds s = sqrt(x) >= 1e-12, x = 1 - d^2, and h = (1 - alpha^2) - beta^2 >= 0,
// beta = alpha (1 - d) / s: h = g / x with g = (1 - alpha^2) x - (alpha - alpha d)^2. The
// approximations lie within kApproximateTrigError of the exact values and the library's within
// a few 1e-16, so d moves by at most 1.4e-11 between the two, and g (whose partial derivatives
// are at most 6 and 10 in size), its rounding included, by at most 1e-10. Where the approximate
// x is at least 1e-4 and |g| above 1e-8, the library's x is above 9.9e-5 (s far above 1e-12, d
// needing no clamping), its g has the same sign and a size above 9.9e-9, and its beta and
// beta^2 carry relative errors below 6e-12: a closing loop has beta^2 below 1, so its h errs by
// less than 1e-11, and an open one with a large beta^2 has h negative by far more than its
// error. The library's rounded h then has the sign of g.
int roughly_closes(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  constexpr double kApart = 1e-4;
  constexpr double kMargin = 1e-8;
  core::SinCos arm;
  core::SinCos turn_a;
  core::SinCos turn_b;
  core::SinCos coupler;
  if (!linkage::approximate_sin_cos(geometry.arm_arc, arm) ||
      !linkage::approximate_sin_cos(theta_a, turn_a) ||
      !linkage::approximate_sin_cos(theta_b, turn_b) ||
      !linkage::approximate_sin_cos(geometry.coupler_arc, coupler)) {
    return 0;
  }
  Vec3 v_2;
  Vec3 v_4;
  linkage::place_tips(linkage::mirror_sign(geometry), arm, turn_a, turn_b, v_2, v_4);
  const double d = core::dot(v_2, v_4);
  const double x = 1.0 - d * d;
  if (!(x >= kApart)) return 0;
  const double alpha = coupler.cos;
  const double across = alpha - alpha * d;
  const double g = (1.0 - alpha * alpha) * x - across * across;
  if (g > kMargin) return 1;
  if (g < -kMargin) return -1;
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
  if (const int rough = roughly_closes(geometry, theta_a, theta_b); rough != 0) return rough > 0;
  const linkage::LinkTerms link = linkage::link_terms(geometry);
  Vec3 v_2;
  Vec3 v_4;
  linkage::place_tips(link.mirror_sign, link.arm, linkage::joint_turn(theta_a),
                      linkage::joint_turn(theta_b), v_2, v_4);
  linkage::CircleMeeting meeting;
  return linkage::circles_meet(v_2, v_4, link.cos_coupler, link.cos_coupler, meeting);
}

}  // namespace vornalt_torso_kinematics::arm
