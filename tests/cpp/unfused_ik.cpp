// A literal copy of the unfused candidate enumeration and inverse kinematics.
#include "unfused_arm.hpp"

#include <cmath>
#include <variant>

namespace vornalt_torso_kinematics::unfused {

using arm::FkSolution;
using arm::IkCandidate;
using arm::kCandidateTolerance;
using arm::kDegenerateTolerance;

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

}  // namespace

CandidateList enumerate_candidates(const SphericalLinkGeometry& geometry, const Vec3& v3) {
  CandidateList candidates;
  const double m = geometry.mirror ? -1.0 : 1.0;
  const double a = geometry.arm_arc;
  const double c = geometry.coupler_arc;
  const double sin_a = core::sin_cos(a).sin;
  const Vec3 v_1{0.0, 0.0, 1.0};
  const Vec3 v_5{m, 0.0, 0.0};

  for (const double sigma_a : kTipSigns) {
    // Tip A lies at arc a from the axis v_1 and at arc c from the pointing direction.
    const std::optional<Vec3> v_2 = intersect_small_circles(v_1, v3, a, c, sigma_a);
    if (!v_2) continue;
    // The turn about v_1 from (m sin a, 0, 0) to the part of v_2 across the axis; keeping the
    // factor m sin a makes this invert the tip formula for either mirror and sign of sin a.
    const double theta_a = std::atan2(m * sin_a * v_2->y, m * sin_a * v_2->x);

    for (const double sigma_b : kTipSigns) {
      const std::optional<Vec3> v_4 = intersect_small_circles(v_5, v3, a, c, sigma_b);
      if (!v_4) continue;
      // The turn about v_5 from (0, 0, sin a) to the part of v_4 across the axis.
      const double theta_b = std::atan2(-m * sin_a * v_4->y, sin_a * v_4->z);

      const FkResult fk = unfused::forward_kinematics(geometry, theta_a, theta_b);
      if (const FkSolution* solution = std::get_if<FkSolution>(&fk)) {
        candidates.push_back(IkCandidate{theta_a, theta_b, *solution});
      }
    }
  }
  return candidates;
}

std::optional<JointPair> inverse_kinematics(const SphericalLinkGeometry& geometry,
                                            const Mat3& r_target) {
  const Vec3 pointing{r_target[0][2], r_target[1][2], r_target[2][2]};
  const CandidateList candidates = unfused::enumerate_candidates(geometry, pointing);

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

  // Keep, in order and over the front of the list, the candidates whose loop closes at u
  // rather than at its mirror image across the great circle through the tips.
  CandidateList candidates = unfused::enumerate_candidates(geometry, u);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (distance(candidates[i].solution.v_3, u) < kCandidateTolerance) {
      if (kept != i) candidates[kept] = candidates[i];
      ++kept;
    }
  }
  candidates.truncate(kept);
  if (candidates.empty()) return std::nullopt;

  // The pair nearest to `near`, or of smallest norm; ties keep the earlier pair, and a NaN
  // distance never replaces the best.
  const JointPair origin = near.value_or(JointPair{0.0, 0.0});
  JointPair best{candidates[0].theta_a, candidates[0].theta_b};
  double best_measure = squared_joint_distance(best, origin);
  for (std::size_t i = 1; i < candidates.size(); ++i) {
    const JointPair pair{candidates[i].theta_a, candidates[i].theta_b};
    const double measure = squared_joint_distance(pair, origin);
    if (measure < best_measure) {
      best = pair;
      best_measure = measure;
    }
  }
  return best;
}

}  // namespace vornalt_torso_kinematics::unfused
