#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <variant>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/linkage.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using arm::Branch;
using arm::FkResult;
using arm::FkSolution;
using arm::SphericalLinkGeometry;
using core::Mat3;
using core::Vec3;

constexpr double kSixDecimals = 5e-7;

const FkSolution& solved(const FkResult& result) {
  const auto* solution = std::get_if<FkSolution>(&result);
  EXPECT_NE(solution, nullptr) << "the loop did not close";
  static const FkSolution kNothing{};
  return solution != nullptr ? *solution : kNothing;
}

double arc(const Vec3& a, const Vec3& b) {
  return std::acos(std::clamp(core::dot(a, b), -1.0, 1.0));
}

void expect_vec_near(const Vec3& actual, const Vec3& expected, double tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

void expect_mat_near(const Mat3& actual, const Mat3& expected, double tolerance) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(actual[i][j], expected[i][j], tolerance) << i << j;
  }
}

// Worked examples, six decimals.
struct Example {
  const char* name;
  SphericalLinkGeometry geometry;
  double theta_a;
  double theta_b;
  Vec3 v_2;
  Vec3 v_4;
  Vec3 v_3;
  Mat3 rotation;
};

constexpr SphericalLinkGeometry kLeftNegative{0.7, 0.5, Branch::negative, false};

const Example kExamples[] = {
    {"left_zero",
     arm::kDefaultLeft,
     0.0,
     0.0,
     {0.644218, 0, 0.764842},
     {0.764842, 0, 0.644218},
     {0.622814, 0.473503, 0.622814},
     Mat3{{{0.334817, 0.707107, 0.622814},
           {-0.880792, 0.000000, 0.473503},
           {0.334817, -0.707107, 0.622814}}}},
    {"left_negative_zero",
     kLeftNegative,
     0.0,
     0.0,
     {0.644218, 0, 0.764842},
     {0.764842, 0, 0.644218},
     {0.622814, -0.473503, 0.622814},
     Mat3{{{0.334817, -0.707107, 0.622814},
           {0.880792, 0.000000, -0.473503},
           {0.334817, 0.707107, 0.622814}}}},
    {"right_zero",
     arm::kDefaultRight,
     0.0,
     0.0,
     {-0.644218, 0, 0.764842},
     {-0.764842, 0, 0.644218},
     {-0.622814, -0.473503, 0.622814},
     Mat3{{{-0.334817, -0.707107, -0.622814},
           {0.880792, 0.000000, -0.473503},
           {0.334817, -0.707107, 0.622814}}}},
    {"left_turned",
     arm::kDefaultLeft,
     0.3,
     -0.2,
     {0.615445, 0.190379, 0.764842},
     {0.764842, 0.127986, 0.631376},
     {0.662696, 0.584017, 0.468783},
     Mat3{{{0.232089, 0.712017, 0.662696},
           {-0.755315, -0.297360, 0.584017},
           {0.612890, -0.636088, 0.468783}}}},
};

class WorkedExample : public testing::TestWithParam<Example> {};

TEST_P(WorkedExample, MatchesTheLinkPointsAndRotation) {
  const Example& e = GetParam();
  const FkResult result = arm::forward_kinematics(e.geometry, e.theta_a, e.theta_b);
  const FkSolution& s = solved(result);
  expect_vec_near(s.v_2, e.v_2, kSixDecimals);
  expect_vec_near(s.v_4, e.v_4, kSixDecimals);
  expect_vec_near(s.v_3, e.v_3, kSixDecimals);
  expect_mat_near(s.rotation, e.rotation, kSixDecimals);
}

INSTANTIATE_TEST_SUITE_P(Fk, WorkedExample, testing::ValuesIn(kExamples),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Fk, LoopDoesNotCloseForFarApartTips) {
  const double pairs[][2] = {{1.0, 1.0}, {2.0, 0.0}, {0.0, 2.0}, {std::numbers::pi, 0.0}};
  for (const auto& pair : pairs) {
    EXPECT_TRUE(std::holds_alternative<arm::LoopNotClosed>(
        arm::forward_kinematics(arm::kDefaultLeft, pair[0], pair[1])))
        << pair[0] << ", " << pair[1];
  }
}

TEST(Fk, CoincidentTipsNeverClose) {
  // With arm_arc = pi/4 both tips start at the midpoint of the quarter circle from +z to +x.
  for (double coupler : {0.0, 0.1, 0.5, 1.0, 1.5, std::numbers::pi / 2}) {
    const SphericalLinkGeometry g{std::numbers::pi / 4, coupler, Branch::positive, false};
    EXPECT_TRUE(std::holds_alternative<arm::LoopNotClosed>(arm::forward_kinematics(g, 0.0, 0.0)))
        << coupler;
  }
}

TEST(Fk, StretchLimit) {
  const auto at = [](double coupler) {
    return arm::forward_kinematics({0.7, coupler, Branch::positive, false}, 0.0, 0.0);
  };
  EXPECT_TRUE(std::holds_alternative<arm::LoopNotClosed>(at(0.0853)));
  const FkResult just_closed = at(0.0854);
  const FkResult closed = at(0.0855);
  expect_vec_near(solved(just_closed).v_3, {0.707107, 0.000561, 0.707107}, kSixDecimals);
  expect_vec_near(solved(closed).v_3, {0.707101, 0.004177, 0.707101}, kSixDecimals);
}

TEST(Fk, StretchedLinkageUsesAnAuxiliaryAxis) {
  // Coupler arcs of half the tip distance put v_3 on the midpoint of the tips, where the x
  // axis comes from a nearly vanishing (or vanishing) vector; the frame must stay a rotation.
  const double tip_arc = std::numbers::pi / 2 - 1.4;
  const FkResult result =
      arm::forward_kinematics({0.7, tip_arc / 2, Branch::positive, false}, 0.0, 0.0);
  const auto* s = std::get_if<FkSolution>(&result);
  ASSERT_NE(s, nullptr);
  const Mat3& r = s->rotation;
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      const double d = r[0][a] * r[0][b] + r[1][a] * r[1][b] + r[2][a] * r[2][b];
      EXPECT_NEAR(d, a == b ? 1.0 : 0.0, 1e-6);
    }
  }
}

TEST(Fk, ZeroAnglesOfEitherSignAreTheIdentityTurn) {
  const FkResult plus_result = arm::forward_kinematics(arm::kDefaultLeft, 0.0, 0.0);
  const FkResult minus_result = arm::forward_kinematics(arm::kDefaultLeft, -0.0, -0.0);
  const FkSolution& plus = solved(plus_result);
  const FkSolution& minus = solved(minus_result);
  EXPECT_EQ(0, std::memcmp(&plus, &minus, sizeof plus));
  EXPECT_FALSE(std::signbit(plus.v_2.y));
  EXPECT_FALSE(std::signbit(minus.v_2.y));
}

TEST(Fk, NotANumberFlowsThrough) {
  const double nan = std::nan("");
  const SphericalLinkGeometry nan_arc{nan, 0.5, Branch::positive, false};
  const SphericalLinkGeometry nan_coupler{0.7, nan, Branch::positive, false};
  const FkResult results[] = {
      arm::forward_kinematics(arm::kDefaultLeft, nan, 0.0),
      arm::forward_kinematics(arm::kDefaultLeft, 0.0, nan),
      arm::forward_kinematics(nan_arc, 0.0, 0.0),
      arm::forward_kinematics(nan_coupler, 0.0, 0.0),
  };
  for (const FkResult& result : results) {
    const FkSolution& s = solved(result);
    for (const auto& row : s.rotation) {
      for (double entry : row) EXPECT_TRUE(std::isnan(entry));
    }
    EXPECT_TRUE(std::isnan(s.v_3.x) && std::isnan(s.v_3.y) && std::isnan(s.v_3.z));
  }
}

TEST(IntersectSmallCircles, WorkedExamples) {
  const Vec3 z{0, 0, 1};
  const Vec3 x{1, 0, 0};
  const auto plus = arm::intersect_small_circles(z, x, 1.0, 1.0, 1.0);
  ASSERT_TRUE(plus.has_value());
  expect_vec_near(*plus, {0.540302, 0.645094, 0.540302}, kSixDecimals);
  const auto minus = arm::intersect_small_circles(z, x, 1.0, 1.0, -1.0);
  ASSERT_TRUE(minus.has_value());
  expect_vec_near(*minus, {0.540302, -0.645094, 0.540302}, kSixDecimals);
  EXPECT_FALSE(arm::intersect_small_circles(z, x, 0.5, 0.5, 1.0).has_value());
  EXPECT_FALSE(arm::intersect_small_circles(z, z, 0.5, 0.5, 1.0).has_value());
  EXPECT_FALSE(arm::intersect_small_circles(z, {0, 0, -1}, 1.5, 1.5, 1.0).has_value());
}

TEST(IntersectSmallCircles, TouchingCirclesGiveTheirSinglePoint) {
  // A great circle about +z and the point +x itself (radius 0) touch at +x, where h is 0.
  const auto p = arm::intersect_small_circles({0, 0, 1}, {1, 0, 0}, std::numbers::pi / 2, 0.0, 1.0);
  ASSERT_TRUE(p.has_value());
  expect_vec_near(*p, {1.0, 0.0, 0.0}, 1e-15);
}

// Invariants over many joint pairs and several geometries.
class FkInvariants : public testing::TestWithParam<SphericalLinkGeometry> {};

TEST_P(FkInvariants, HoldOverRandomJointPairs) {
  const SphericalLinkGeometry g = GetParam();
  SphericalLinkGeometry mirrored = g;
  mirrored.mirror = !g.mirror;
  SphericalLinkGeometry other_branch_mirrored = mirrored;
  other_branch_mirrored.branch = g.branch == Branch::positive ? Branch::negative : Branch::positive;

  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> angle(-4.0, 4.0);
  int closed = 0;
  const Vec3 v_1{0, 0, 1};
  const Vec3 v_5{g.mirror ? -1.0 : 1.0, 0, 0};
  for (int i = 0; i < 4000; ++i) {
    const double ta = angle(random);
    const double tb = angle(random);
    const FkResult result = arm::forward_kinematics(g, ta, tb);
    const FkResult mirror_result = arm::forward_kinematics(mirrored, ta, tb);
    const FkResult reflected = arm::forward_kinematics(other_branch_mirrored, -ta, -tb);
    ASSERT_EQ(result.index(), mirror_result.index()) << ta << ", " << tb;
    ASSERT_EQ(result.index(), reflected.index()) << ta << ", " << tb;
    const auto* s = std::get_if<FkSolution>(&result);
    if (s == nullptr) continue;
    ++closed;

    EXPECT_NEAR(arc(v_1, s->v_2), g.arm_arc, 1e-9);
    EXPECT_NEAR(arc(v_5, s->v_4), g.arm_arc, 1e-9);
    EXPECT_NEAR(arc(s->v_2, s->v_3), g.coupler_arc, 1e-6);
    EXPECT_NEAR(arc(s->v_4, s->v_3), g.coupler_arc, 1e-6);

    const Mat3& r = s->rotation;
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        const double d = r[0][a] * r[0][b] + r[1][a] * r[1][b] + r[2][a] * r[2][b];
        EXPECT_NEAR(d, a == b ? 1.0 : 0.0, 1e-12);
      }
    }
    const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                       r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                       r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    EXPECT_NEAR(det, 1.0, 1e-12);
    EXPECT_EQ(r[0][2], s->v_3.x);
    EXPECT_EQ(r[1][2], s->v_3.y);
    EXPECT_EQ(r[2][2], s->v_3.z);

    // The mirror is a half turn about z: x and y of every point negate.
    const FkSolution& m = std::get<FkSolution>(mirror_result);
    expect_vec_near(m.v_2, {-s->v_2.x, -s->v_2.y, s->v_2.z}, 1e-12);
    expect_vec_near(m.v_4, {-s->v_4.x, -s->v_4.y, s->v_4.z}, 1e-12);
    expect_vec_near(m.v_3, {-s->v_3.x, -s->v_3.y, s->v_3.z}, 1e-9);
    // ... and also a reflection across the YZ plane with the angles and the branch reversed.
    const FkSolution& f = std::get<FkSolution>(reflected);
    expect_vec_near(f.v_3, {-s->v_3.x, s->v_3.y, s->v_3.z}, 1e-9);
  }
  EXPECT_GT(closed, 400) << "too few joint pairs closed the loop to test anything";
}

// The closure test decides clear cases from these approximations; its margins hold only while
// they keep their stated bound: over the whole range, near the quarter turns where the reduction
// changes quadrant, and at its limits.
TEST(ApproximateSinCos, StaysWithinItsBoundOfTheLibrary) {
  std::mt19937_64 rng(7);
  const double limit = arm::linkage::kApproximateAngleLimit;
  std::uniform_real_distribution<double> anywhere(-limit, limit);
  std::uniform_real_distribution<double> small(-4.0, 4.0);
  std::uniform_real_distribution<double> offset(-1e-9, 1e-9);
  for (int i = 0; i < 300000; ++i) {
    double angle = i % 3 == 0 ? anywhere(rng) : small(rng);
    if (i % 3 == 2) {
      angle = std::round(angle * 4 / std::numbers::pi) * std::numbers::pi / 4 + offset(rng);
    }
    if (i < 2) angle = i == 0 ? limit : -limit;
    core::SinCos approximate;
    ASSERT_TRUE(arm::linkage::approximate_sin_cos(angle, approximate)) << angle;
    EXPECT_NEAR(approximate.sin, std::sin(angle), arm::linkage::kApproximateTrigError) << angle;
    EXPECT_NEAR(approximate.cos, std::cos(angle), arm::linkage::kApproximateTrigError) << angle;
    if (HasFailure()) break;
  }
  core::SinCos untouched{2.0, 3.0};
  for (const double angle : {std::nextafter(limit, 2 * limit), -2 * limit, std::nan(""),
                             std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(arm::linkage::approximate_sin_cos(angle, untouched)) << angle;
  }
  EXPECT_EQ(untouched.sin, 2.0);
  EXPECT_EQ(untouched.cos, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Fk, FkInvariants,
                         testing::Values(arm::kDefaultLeft, arm::kDefaultRight,
                                         SphericalLinkGeometry{0.7, 0.5, Branch::negative, false},
                                         SphericalLinkGeometry{0.4, 0.9, Branch::positive, false},
                                         SphericalLinkGeometry{1.1, 0.8, Branch::negative, true},
                                         SphericalLinkGeometry{0.2, 1.3, Branch::positive, true}));

}  // namespace
