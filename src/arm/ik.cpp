#include <vornalt_torso_kinematics/arm/ik.hpp>

#include <cmath>

#include <vornalt_torso_kinematics/arm/linkage.hpp>

namespace vornalt_torso_kinematics::arm {
namespace {

// The tip choices, in the order the candidates are listed.
constexpr double kTipSigns[2] = {1.0, -1.0};

// Frobenius norm of a - b, summed over the entries in row-major order.
double frobenius_distance(const Mat3& a, const Mat3& b) {
  double sum = 0.0;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const double diff = a[row][col] - b[row][col];
      sum += diff * diff;
    }
  }
  return std::sqrt(sum);
}

// Euclidean distance between two points.
double distance(const Vec3& a, const Vec3& b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  const double dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Squared distance in the joint plane, without wrapping either angle.
double squared_joint_distance(const JointPair& a, const JointPair& b) {
  const double da = a.theta_a - b.theta_a;
  const double db = a.theta_b - b.theta_b;
  return da * da + db * db;
}

// Euclidean length of v; a finite vector too long to square is rescaled by its largest
// component first, so that it still has a finite length.
double length(const Vec3& v) {
  const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!std::isinf(n) || !std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
    return n;
  }
  const double scale = std::fmax(std::fabs(v.x), std::fmax(std::fabs(v.y), std::fabs(v.z)));
  const double x = v.x / scale;
  const double y = v.y / scale;
  const double z = v.z / scale;
  return scale * std::sqrt(x * x + y * y + z * z);
}

// Hands `visit` the terms of the geometry and each candidate joint pair for the unit direction
// v3 with the turns of its joints, in the order of the tip choices (+1, +1), (+1, -1), (-1, +1),
// (-1, -1); nothing when a tip cannot be placed.
template <typename Visit>
void for_each_candidate(const SphericalLinkGeometry& geometry, const Vec3& v3, Visit&& visit) {
  // The terms that every candidate's forward kinematics takes from the geometry, once.
  const linkage::LinkTerms link = linkage::link_terms(geometry);
  const double m = link.mirror_sign;
  const double sin_a = link.arm.sin;
  // The radius of the tip circles as intersect_small_circles takes it, from cos rather than
  // from the sincos of `link`: the two need not agree to the last bit.
  const double cos_arm = std::cos(geometry.arm_arc);
  const Vec3 v_1{0.0, 0.0, 1.0};
  const Vec3 v_5{m, 0.0, 0.0};

  // Tip A lies at arc a from the axis v_1 and tip B at arc a from the axis v_5, both at arc c
  // from the pointing direction. Whether the circles meet does not depend on the side.
  linkage::CircleMeeting around_v_1;
  linkage::CircleMeeting around_v_5;
  if (!linkage::circles_meet(v_1, v3, cos_arm, link.cos_coupler, around_v_1) ||
      !linkage::circles_meet(v_5, v3, cos_arm, link.cos_coupler, around_v_5)) {
    return;
  }
  const linkage::MeetingPoints tips_a = linkage::meeting_points(v_1, v3, around_v_1);
  const linkage::MeetingPoints tips_b = linkage::meeting_points(v_5, v3, around_v_5);

  // The angles of both tips of each arm and their turns, before any candidate is solved: the
  // four calls of atan2 do not depend on one another, nor do the four of sincos.
  double theta_a[2];
  double theta_b[2];
  for (int k = 0; k < 2; ++k) {
    Vec3 v_2;
    Vec3 v_4;
    linkage::meeting_point(tips_a, kTipSigns[k], v_2);
    linkage::meeting_point(tips_b, kTipSigns[k], v_4);
    // The turn about v_1 from (m sin a, 0, 0) to the part of v_2 across the axis; keeping the
    // factor m sin a makes this invert the tip formula for either mirror and sign of sin a.
    theta_a[k] = std::atan2(m * sin_a * v_2.y, m * sin_a * v_2.x);
    // The turn about v_5 from (0, 0, sin a) to the part of v_4 across the axis.
    theta_b[k] = std::atan2(-m * sin_a * v_4.y, sin_a * v_4.z);
  }
  core::SinCos turn_a[2];
  core::SinCos turn_b[2];
  for (int k = 0; k < 2; ++k) {
    turn_a[k] = linkage::joint_turn(theta_a[k]);
    turn_b[k] = linkage::joint_turn(theta_b[k]);
  }

  for (int i = 0; i < 2; ++i) {
    for (int k = 0; k < 2; ++k) visit(link, theta_a[i], theta_b[k], turn_a[i], turn_b[k]);
  }
}

}  // namespace

CandidateList enumerate_candidates(const SphericalLinkGeometry& geometry, const Vec3& v3) {
  CandidateList candidates;
  for_each_candidate(geometry, v3,
                     [&](const linkage::LinkTerms& link, double theta_a, double theta_b,
                         core::SinCos turn_a, core::SinCos turn_b) {
                       IkCandidate& candidate = candidates.slot();
                       if (linkage::solve_linkage(link, turn_a, turn_b, candidate.solution)) {
                         candidate.theta_a = theta_a;
                         candidate.theta_b = theta_b;
                         candidates.commit();
                       }
                     });
  return candidates;
}

std::optional<JointPair> inverse_kinematics(const SphericalLinkGeometry& geometry,
                                            const Mat3& r_target) {
  const Vec3 pointing{r_target[0][2], r_target[1][2], r_target[2][2]};
  const CandidateList candidates = enumerate_candidates(geometry, pointing);

  // The closest candidate rotation wins; a tie keeps the earlier one, and NaN never qualifies.
  const IkCandidate* best = nullptr;
  double best_error = 0.0;
  for (const IkCandidate& candidate : candidates) {
    const double error = frobenius_distance(candidate.solution.rotation, r_target);
    if (!(error < kCandidateTolerance)) continue;
    if (best == nullptr || error < best_error) {
      best = &candidate;
      best_error = error;
    }
  }
  if (best == nullptr) return std::nullopt;
  return JointPair{best->theta_a, best->theta_b};
}

std::optional<JointPair> inverse_kinematics_from_direction(const SphericalLinkGeometry& geometry,
                                                           const Vec3& v3,
                                                           const std::optional<JointPair>& near) {
  const double n = length(v3);
  if (n < kDegenerateTolerance) return std::nullopt;
  const Vec3 u{v3.x / n, v3.y / n, v3.z / n};

  // Keep, in order, the pairs whose loop closes at u rather than at its mirror image across
  // the great circle through the tips. Only the coupler joint of each candidate is needed, not
  // its frame.
  JointPair kept[CandidateList::kCapacity];
  std::size_t count = 0;
  for_each_candidate(geometry, u,
                     [&](const linkage::LinkTerms& link, double theta_a, double theta_b,
                         core::SinCos turn_a, core::SinCos turn_b) {
                       Vec3 v_2;
                       Vec3 v_4;
                       Vec3 v_3;
                       if (linkage::close_loop(link, turn_a, turn_b, v_2, v_4, v_3) &&
                           distance(v_3, u) < kCandidateTolerance) {
                         kept[count++] = JointPair{theta_a, theta_b};
                       }
                     });
  if (count == 0) return std::nullopt;

  // The pair nearest to `near`, or of smallest norm; ties keep the earlier pair, and a NaN
  // distance never replaces the best.
  const JointPair origin = near.value_or(JointPair{0.0, 0.0});
  JointPair best = kept[0];
  double best_measure = squared_joint_distance(best, origin);
  for (std::size_t i = 1; i < count; ++i) {
    const double measure = squared_joint_distance(kept[i], origin);
    if (measure < best_measure) {
      best = kept[i];
      best_measure = measure;
    }
  }
  return best;
}

}  // namespace vornalt_torso_kinematics::arm
