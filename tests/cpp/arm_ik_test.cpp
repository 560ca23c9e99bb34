#include <vornalt_torso_kinematics/arm/ik.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <variant>
#include <vector>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using arm::Branch;
using arm::SphericalLinkGeometry;
using core::JointPair;
using core::Mat3;
using core::Vec3;

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Printed reference values carry six decimals.
constexpr double kPrinted = 1e-6;

constexpr SphericalLinkGeometry kLeft = arm::kDefaultLeft;
constexpr SphericalLinkGeometry kRight = arm::kDefaultRight;
constexpr SphericalLinkGeometry kLeftNegative{0.7, 0.5, Branch::negative, false};

arm::FkSolution fk(const SphericalLinkGeometry& geometry, double theta_a, double theta_b) {
  const arm::FkResult result = arm::forward_kinematics(geometry, theta_a, theta_b);
  EXPECT_TRUE(std::holds_alternative<arm::FkSolution>(result)) << theta_a << ", " << theta_b;
  return std::get<arm::FkSolution>(result);
}

double frobenius(const Mat3& a, const Mat3& b) {
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) sum += (a[i][j] - b[i][j]) * (a[i][j] - b[i][j]);
  }
  return std::sqrt(sum);
}

double dist(const Vec3& a, const Vec3& b) {
  return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

Vec3 normalised(const Vec3& v) {
  const double n = std::hypot(v.x, v.y, v.z);
  return {v.x / n, v.y / n, v.z / n};
}

Vec3 scaled(const Vec3& v, double k) {
  return {k * v.x, k * v.y, k * v.z};
}

Mat3 product(const Mat3& a, const Mat3& b) {
  Mat3 out{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) out[i][j] += a[i][k] * b[k][j];
    }
  }
  return out;
}

// Difference of two angles folded into [-pi, pi].
double wrapped_difference(double a, double b) {
  return std::remainder(a - b, 2.0 * kPi);
}

bool reaches(const arm::IkCandidate& candidate, const Vec3& u) {
  return dist(candidate.solution.v_3, u) < arm::kCandidateTolerance;
}

// Checks both angles of a pair against reference values.
void expect_pair_near(const JointPair& pair, double theta_a, double theta_b, double tolerance) {
  EXPECT_NEAR(pair.theta_a, theta_a, tolerance);
  EXPECT_NEAR(pair.theta_b, theta_b, tolerance);
}

// ---------------------------------------------------------------------------------------------
// Candidate enumeration and inverse kinematics from a rotation.

TEST(EnumerateCandidates, ListsTheFourTipChoicesInOrderWithTheirForwardKinematics) {
  const arm::FkSolution target = fk(kLeft, 0.3, -0.4);
  const arm::CandidateList candidates = arm::enumerate_candidates(kLeft, target.v_3);
  ASSERT_EQ(candidates.size(), 4u);
  struct Expected {
    double theta_a, theta_b, error;
  };
  const Expected expected[4] = {{1.598011, -0.4, 1.290798},
                                {1.598011, -1.193961, 0.619799},
                                {0.3, -0.4, 0.0},
                                {0.3, -1.193961, 0.763019}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const arm::IkCandidate& c = candidates[i];
    EXPECT_NEAR(c.theta_a, expected[i].theta_a, kPrinted);
    EXPECT_NEAR(c.theta_b, expected[i].theta_b, kPrinted);
    EXPECT_NEAR(frobenius(c.solution.rotation, target.rotation), expected[i].error, kPrinted);
    // The stored solution is the forward kinematics of the stored pair, bit for bit.
    const arm::FkSolution again = fk(kLeft, c.theta_a, c.theta_b);
    EXPECT_EQ(frobenius(again.rotation, c.solution.rotation), 0.0);
    EXPECT_EQ(dist(again.v_2, c.solution.v_2), 0.0);
    EXPECT_EQ(dist(again.v_4, c.solution.v_4), 0.0);
    // Every candidate tip lies at arc coupler_arc from the requested direction.
    EXPECT_NEAR(core::dot(c.solution.v_2, target.v_3), std::cos(0.5), 1e-12);
    EXPECT_NEAR(core::dot(c.solution.v_4, target.v_3), std::cos(0.5), 1e-12);
  }
  EXPECT_LT(frobenius(candidates[2].solution.rotation, target.rotation), 1e-14);
}

TEST(EnumerateCandidates, GivesNothingOnTheJointAxesOrOutsideTheWorkspace) {
  const Vec3 directions[] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}};
  for (const SphericalLinkGeometry& g : {kLeft, kRight}) {
    for (const Vec3& v : directions) {
      EXPECT_TRUE(arm::enumerate_candidates(g, v).empty()) << v.x << " " << v.y << " " << v.z;
    }
  }
  // Further than arm_arc + coupler_arc from the axis of joint A: tip A cannot be placed.
  EXPECT_TRUE(arm::enumerate_candidates(kLeft, Vec3{0.0, std::sin(1.3), std::cos(1.3)}).empty());
}

TEST(InverseKinematics, WorkedExampleForBothMirrorSettings) {
  for (const SphericalLinkGeometry& g : {kLeft, kRight}) {
    SCOPED_TRACE(g.mirror);
    const std::optional<JointPair> result = arm::inverse_kinematics(g, fk(g, 0.3, -0.4).rotation);
    ASSERT_TRUE(result.has_value());
    expect_pair_near(*result, 0.3, -0.4, 1e-12);
  }
}

TEST(InverseKinematics, ReturnsAnglesWithinHalfATurn) {
  const std::optional<JointPair> result =
      arm::inverse_kinematics(kLeft, fk(kLeft, 0.3 + 2.0 * kPi, -0.4 - 4.0 * kPi).rotation);
  ASSERT_TRUE(result.has_value());
  expect_pair_near(*result, 0.3, -0.4, 1e-12);
}

TEST(InverseKinematics, FailsForEveryUnreachableOrMalformedTarget) {
  const Mat3 reachable = fk(kLeft, 0.3, -0.4).rotation;
  ASSERT_TRUE(arm::inverse_kinematics(kLeft, reachable).has_value());

  std::vector<std::pair<const char*, Mat3>> cases;
  cases.push_back({"identity: pointing along joint A", {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}});
  cases.push_back({"pointing against joint A", {{{1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}});
  cases.push_back({"pointing along +x", {{{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}}});
  cases.push_back({"pointing along -x", {{{0, 0, -1}, {0, 1, 0}, {1, 0, 0}}}});
  const double r = 0.01;
  const Mat3 roll{{{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}}};
  cases.push_back({"rolled by 0.01 about its pointing direction", product(reachable, roll)});
  Mat3 transposed;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) transposed[i][j] = reachable[j][i];
  }
  cases.push_back({"transposed", transposed});
  Mat3 stretched = reachable;
  for (auto& row : stretched) {
    for (double& x : row) x *= 1.001;
  }
  cases.push_back({"scaled by 1.001", stretched});
  Mat3 columns_swapped = reachable;
  for (auto& row : columns_swapped) std::swap(row[0], row[1]);
  cases.push_back({"x and y axes swapped (a reflection)", columns_swapped});
  for (int i = 0; i < 9; ++i) {
    Mat3 with_nan = reachable;
    with_nan[i / 3][i % 3] = kNaN;
    cases.push_back({"one NaN entry", with_nan});
  }

  for (const SphericalLinkGeometry& g : {kLeft, kRight, kLeftNegative}) {
    for (const auto& [what, target] : cases) {
      EXPECT_FALSE(arm::inverse_kinematics(g, target).has_value())
          << what << " (mirror " << g.mirror << ", branch " << int(g.branch) << ")";
    }
  }
}

// A roll by r about the pointing direction moves the rotation by sqrt(2) * r in the Frobenius
// norm, so the acceptance limit lies between rolls of 0.6e-6 and 0.8e-6.
TEST(InverseKinematics, AcceptsRotationsCloserThanTheToleranceOnly) {
  const Mat3 reachable = fk(kLeft, 0.3, -0.4).rotation;
  for (const double r : {0.0, 1e-9, 0.6e-6, -0.6e-6, 0.8e-6, -0.8e-6, 1e-5}) {
    const Mat3 roll{{{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}}};
    const std::optional<JointPair> result =
        arm::inverse_kinematics(kLeft, product(reachable, roll));
    EXPECT_EQ(result.has_value(), std::sqrt(2.0) * std::abs(r) < arm::kCandidateTolerance) << r;
    if (result) expect_pair_near(*result, 0.3, -0.4, 1e-12);
  }
}

// Along the plane x = z, two different tip choices give the same end-effector rotation up to
// rounding, so both qualify: the one whose error is smaller must win, whatever its position.
TEST(InverseKinematics, PrefersTheSmallestErrorAmongQualifyingCandidates) {
  const double t = 0.9;
  const Vec3 u{std::cos(t) / std::sqrt(2.0), std::sin(t), std::cos(t) / std::sqrt(2.0)};
  const arm::CandidateList on_plane = arm::enumerate_candidates(kLeft, u);
  ASSERT_EQ(on_plane.size(), 4u);
  ASSERT_GT(std::abs(on_plane[1].theta_a - on_plane[2].theta_a), 0.1);
  ASSERT_LT(frobenius(on_plane[1].solution.rotation, on_plane[2].solution.rotation), 1e-12);

  bool later_won = false;
  for (const std::size_t k : {1u, 2u}) {
    SCOPED_TRACE(k);
    const Mat3& target = on_plane[k].solution.rotation;
    const arm::CandidateList candidates =
        arm::enumerate_candidates(kLeft, Vec3{target[0][2], target[1][2], target[2][2]});
    std::size_t qualifying = 0;
    std::size_t first = candidates.size();
    std::size_t best = candidates.size();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const double error = frobenius(candidates[i].solution.rotation, target);
      if (!(error < arm::kCandidateTolerance)) continue;
      ++qualifying;
      if (first == candidates.size()) first = i;
      if (best == candidates.size() ||
          error < frobenius(candidates[best].solution.rotation, target)) {
        best = i;
      }
    }
    ASSERT_GE(qualifying, 2u);
    later_won = later_won || best != first;
    const std::optional<JointPair> result = arm::inverse_kinematics(kLeft, target);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->theta_a, candidates[best].theta_a);
    EXPECT_EQ(result->theta_b, candidates[best].theta_b);
  }
  // Taking the first qualifying candidate would fail at least one of the two targets.
  EXPECT_TRUE(later_won);
  // Bit-equal errors of two different candidates do not arise here (the two rotations differ
  // in their last bits), so the tie rule itself is exercised by the direction solver below.
}

class RoundTrip : public ::testing::TestWithParam<SphericalLinkGeometry> {};

// True when v lies within `margin` of a joint axis or its opposite, where tips are undefined.
bool near_joint_axis(const Vec3& v, double margin) {
  const Vec3 axes[] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}};
  for (const Vec3& axis : axes) {
    if (dist(v, axis) < margin) return true;
  }
  return false;
}

// True when the tips are nearly 2 * coupler_arc apart (stretched) or nearly coincide.
bool near_stretch_limit(const arm::FkSolution& s, double coupler_arc, double margin) {
  const double tip_arc = std::acos(std::clamp(core::dot(s.v_2, s.v_4), -1.0, 1.0));
  return tip_arc > 2.0 * coupler_arc - margin || tip_arc < margin;
}

TEST_P(RoundTrip, InverseOfForwardKinematicsGivesBackThePair) {
  const SphericalLinkGeometry g = GetParam();
  std::mt19937_64 rng(0x5eed1234u);
  std::uniform_real_distribution<double> angle(-3.0 * kPi, 3.0 * kPi);
  int checked = 0;
  int same_pair = 0;
  for (int i = 0; i < 6000; ++i) {
    const double theta_a = angle(rng);
    const double theta_b = angle(rng);
    const arm::FkResult forward = arm::forward_kinematics(g, theta_a, theta_b);
    if (!std::holds_alternative<arm::FkSolution>(forward)) continue;
    const arm::FkSolution& s = std::get<arm::FkSolution>(forward);
    if (near_joint_axis(s.v_3, 1e-3) || near_stretch_limit(s, g.coupler_arc, 1e-3)) continue;
    ++checked;

    const std::optional<JointPair> result = arm::inverse_kinematics(g, s.rotation);
    ASSERT_TRUE(result.has_value()) << theta_a << ", " << theta_b;
    EXPECT_LE(std::abs(result->theta_a), kPi);
    EXPECT_LE(std::abs(result->theta_b), kPi);
    EXPECT_LT(frobenius(fk(g, result->theta_a, result->theta_b).rotation, s.rotation), 1e-6);
    if (std::abs(wrapped_difference(result->theta_a, theta_a)) < 1e-7 &&
        std::abs(wrapped_difference(result->theta_b, theta_b)) < 1e-7) {
      ++same_pair;
    }
  }
  EXPECT_GT(checked, 500);
  // Another pair reproduces the very same rotation only on a thin set of directions.
  EXPECT_GE(same_pair, checked - checked / 100) << same_pair << " of " << checked;
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, RoundTrip,
    ::testing::Values(SphericalLinkGeometry{0.7, 0.5, Branch::positive, false},
                      SphericalLinkGeometry{0.7, 0.5, Branch::positive, true},
                      SphericalLinkGeometry{0.7, 0.5, Branch::negative, false},
                      SphericalLinkGeometry{0.7, 0.5, Branch::negative, true},
                      SphericalLinkGeometry{0.4, 0.9, Branch::positive, false},
                      SphericalLinkGeometry{1.0, 0.6, Branch::negative, true},
                      // A negative arm_arc flips the sign of sin a in both tip formulas.
                      SphericalLinkGeometry{-0.7, 0.5, Branch::positive, false},
                      SphericalLinkGeometry{-0.7, 0.5, Branch::negative, true}));

// ---------------------------------------------------------------------------------------------
// Inverse kinematics from a pointing direction.

class FromDirection : public ::testing::Test {
 protected:
  const Vec3 d = fk(kLeft, 0.3, -0.4).v_3;
};

TEST_F(FromDirection, WorkedExampleDirection) {
  EXPECT_NEAR(d.x, 0.456132, kPrinted);
  EXPECT_NEAR(d.y, 0.636509, kPrinted);
  EXPECT_NEAR(d.z, 0.621932, kPrinted);
  const std::optional<JointPair> none;
  struct Case {
    const char* what;
    std::optional<JointPair> near;
    double theta_a, theta_b;
  };
  const Case cases[] = {
      {"smallest norm", none, 0.3, -0.4},
      {"near the third", JointPair{0.3, -1.2}, 0.3, -1.193961},
      {"near the first", JointPair{1.5, 0.0}, 1.598011, -0.4},
      {"distances are not wrapped", JointPair{0.3 + 2.0 * kPi, -0.4}, 1.598011, -0.4},
      {"a NaN distance never replaces the first", JointPair{kNaN, 0.0}, 1.598011, -0.4},
      {"a NaN distance, other joint", JointPair{0.3, kNaN}, 1.598011, -0.4},
      // Nearest to the candidate whose loop closes elsewhere: that one is not kept.
      {"dropped candidate", JointPair{1.598011, -1.193961}, 1.598011, -0.4},
  };
  for (const Case& c : cases) {
    const std::optional<JointPair> result =
        arm::inverse_kinematics_from_direction(kLeft, d, c.near);
    ASSERT_TRUE(result.has_value()) << c.what;
    SCOPED_TRACE(c.what);
    expect_pair_near(*result, c.theta_a, c.theta_b, kPrinted);
  }
}

TEST_F(FromDirection, OnlyTheDirectionOfTheInputMatters) {
  const std::optional<JointPair> base = arm::inverse_kinematics_from_direction(kLeft, d, {});
  ASSERT_TRUE(base.has_value());
  for (const double k : {2.5, 1.5e-12, 1e-3, 1e200, 1e300}) {
    const std::optional<JointPair> result =
        arm::inverse_kinematics_from_direction(kLeft, scaled(d, k), {});
    ASSERT_TRUE(result.has_value()) << k;
    SCOPED_TRACE(k);
    expect_pair_near(*result, base->theta_a, base->theta_b, 1e-12);
  }
  for (const double k : {0.9e-12, 0.0, 1e-200}) {
    EXPECT_FALSE(arm::inverse_kinematics_from_direction(kLeft, scaled(d, k), {}).has_value()) << k;
  }
}

TEST(DirectionFailures, AxesOutsideAndNonFiniteDirections) {
  const Vec3 bad[] = {{0, 0, 1},    {0, 0, -1},   {1, 0, 0},    {-1, 0, 0},
                      {0, 0, 2.5},  {0, 1, 0},    {0, -1, 0},   {kNaN, 1, 1},
                      {1, kNaN, 1}, {1, 1, kNaN}, {kInf, 1, 1}, {1, -kInf, 1}};
  for (const SphericalLinkGeometry& g : {kLeft, kRight, kLeftNegative}) {
    for (const Vec3& v : bad) {
      for (const std::optional<JointPair>& near :
           {std::optional<JointPair>{}, std::optional<JointPair>{JointPair{0, 0}}}) {
        EXPECT_FALSE(arm::inverse_kinematics_from_direction(g, v, near).has_value())
            << v.x << " " << v.y << " " << v.z << " mirror " << g.mirror;
      }
    }
  }
}

TEST(DirectionExamples, DiagonalAndNegativeBranch) {
  const std::optional<JointPair> diagonal =
      arm::inverse_kinematics_from_direction(kLeft, Vec3{1, 1, 1}, {});
  ASSERT_TRUE(diagonal.has_value());
  expect_pair_near(*diagonal, 0.191734, -0.191734, kPrinted);

  // On the negative branch three of the four candidates reach the direction.
  const Vec3 u = fk(kLeftNegative, 0.3, -0.4).v_3;
  const arm::CandidateList candidates = arm::enumerate_candidates(kLeftNegative, u);
  ASSERT_EQ(candidates.size(), 4u);
  std::vector<JointPair> kept;
  for (const arm::IkCandidate& c : candidates) {
    if (reaches(c, u)) kept.push_back({c.theta_a, c.theta_b});
  }
  ASSERT_EQ(kept.size(), 3u);
  expect_pair_near(kept[0], 0.3, 1.187733, kPrinted);
  expect_pair_near(kept[1], 0.3, -0.4, kPrinted);
  expect_pair_near(kept[2], -0.911732, -0.4, kPrinted);

  const std::optional<JointPair> smallest =
      arm::inverse_kinematics_from_direction(kLeftNegative, u, {});
  ASSERT_TRUE(smallest.has_value());
  expect_pair_near(*smallest, 0.3, -0.4, 1e-12);
  // Each kept pair is returned when `near` is that pair.
  for (const JointPair& p : kept) {
    const std::optional<JointPair> result =
        arm::inverse_kinematics_from_direction(kLeftNegative, u, p);
    ASSERT_TRUE(result.has_value());
    expect_pair_near(*result, p.theta_a, p.theta_b, 1e-12);
  }
}

// Directions in the plane of symmetry between the two joint axes give candidates that are
// exact mirror images (theta_a, theta_b) <-> (-theta_b, -theta_a), hence bit-equal measures.
TEST(DirectionTies, EqualNormsKeepTheEarlierPair) {
  const SphericalLinkGeometry g{1.0, 0.5, Branch::positive, true};
  const double t = -1.2;
  const Vec3 u{-std::cos(t) / std::sqrt(2.0), std::sin(t), std::cos(t) / std::sqrt(2.0)};
  const arm::CandidateList c = arm::enumerate_candidates(g, u);
  ASSERT_EQ(c.size(), 4u);
  ASSERT_TRUE(reaches(c[0], u) && !reaches(c[1], u) && !reaches(c[2], u) && reaches(c[3], u));
  ASSERT_EQ(c[0].theta_a, -c[3].theta_b);
  ASSERT_EQ(c[0].theta_b, -c[3].theta_a);
  ASSERT_NE(c[0].theta_a, c[3].theta_a);

  const std::optional<JointPair> result = arm::inverse_kinematics_from_direction(g, u, {});
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->theta_a, c[0].theta_a);
  EXPECT_EQ(result->theta_b, c[0].theta_b);
  // Not a vacuous tie: a `near` a little closer to the later pair selects it.
  const std::optional<JointPair> later =
      arm::inverse_kinematics_from_direction(g, u, JointPair{0.0, -1e-3});
  ASSERT_TRUE(later.has_value());
  EXPECT_EQ(later->theta_a, c[3].theta_a);
  EXPECT_EQ(later->theta_b, c[3].theta_b);
}

TEST(DirectionTies, EqualDistancesToNearKeepTheEarlierPair) {
  const Vec3 u = normalised(Vec3{1, 1, 1});
  const arm::CandidateList c = arm::enumerate_candidates(kLeft, u);
  ASSERT_EQ(c.size(), 4u);
  ASSERT_TRUE(reaches(c[0], u) && reaches(c[2], u) && reaches(c[3], u));
  ASSERT_EQ(c[0].theta_a, -c[3].theta_b);
  ASSERT_EQ(c[0].theta_b, -c[3].theta_a);
  // (3, -3) lies on the line of symmetry: c[0] and c[3] are equally far, c[2] farther.
  const JointPair near{3.0, -3.0};
  const JointPair result = *arm::inverse_kinematics_from_direction(kLeft, u, near);
  EXPECT_EQ(result.theta_a, c[0].theta_a);
  EXPECT_EQ(result.theta_b, c[0].theta_b);
  const JointPair later = *arm::inverse_kinematics_from_direction(kLeft, u, JointPair{3.0, -3.001});
  EXPECT_EQ(later.theta_a, c[3].theta_a);
  EXPECT_EQ(later.theta_b, c[3].theta_b);
}

// Random directions of random length: every answer points where asked, and whether there is
// one does not depend on `near`.
TEST(DirectionProperties, AnswersPointAlongTheNormalisedInput) {
  std::mt19937_64 rng(20261207u);
  std::normal_distribution<double> component(0.0, 1.0);
  std::uniform_real_distribution<double> log_length(-10.0, 10.0);
  std::uniform_real_distribution<double> angle(-4.0, 4.0);
  for (const SphericalLinkGeometry& g :
       {kLeft, kRight, kLeftNegative, SphericalLinkGeometry{1.0, 0.6, Branch::negative, true}}) {
    int found = 0;
    for (int i = 0; i < 3000; ++i) {
      const Vec3 raw{component(rng), component(rng), component(rng)};
      const Vec3 v = scaled(raw, std::pow(10.0, log_length(rng)));
      const Vec3 u = normalised(v);
      const JointPair near{angle(rng), angle(rng)};
      const std::optional<JointPair> plain = arm::inverse_kinematics_from_direction(g, v, {});
      const std::optional<JointPair> hinted = arm::inverse_kinematics_from_direction(g, v, near);
      ASSERT_EQ(plain.has_value(), hinted.has_value());
      if (!plain) continue;
      ++found;
      for (const JointPair& p : {*plain, *hinted}) {
        EXPECT_LE(std::abs(p.theta_a), kPi);
        EXPECT_LE(std::abs(p.theta_b), kPi);
        EXPECT_LT(dist(fk(g, p.theta_a, p.theta_b).v_3, u), 1e-6);
      }
    }
    EXPECT_GT(found, 100);
  }
}

// Every direction that forward kinematics produces, away from the joint axes, is reached.
TEST(DirectionProperties, ReachesEveryForwardDirection) {
  std::mt19937_64 rng(77u);
  std::uniform_real_distribution<double> angle(-kPi, kPi);
  for (const SphericalLinkGeometry& g : {kLeft, kRight, kLeftNegative}) {
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
      const arm::FkResult forward = arm::forward_kinematics(g, angle(rng), angle(rng));
      if (!std::holds_alternative<arm::FkSolution>(forward)) continue;
      const arm::FkSolution& s = std::get<arm::FkSolution>(forward);
      if (near_joint_axis(s.v_3, 1e-3) || near_stretch_limit(s, g.coupler_arc, 1e-3)) continue;
      ++checked;
      const std::optional<JointPair> result = arm::inverse_kinematics_from_direction(g, s.v_3, {});
      ASSERT_TRUE(result.has_value());
      EXPECT_LT(dist(fk(g, result->theta_a, result->theta_b).v_3, s.v_3), 1e-6);
    }
    EXPECT_GT(checked, 300);
  }
}

}  // namespace
