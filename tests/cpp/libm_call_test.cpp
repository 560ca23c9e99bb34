// The arm core's calls of the maths library: the program is linked with --wrap for sincos,
// sin, cos and atan2, so that every call the core's objects make goes through a counter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <utility>
#include <variant>
#include <vector>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

struct Calls {
  int sincos = 0;
  int sin = 0;
  int cos = 0;
  int atan2 = 0;
  int total() const { return sincos + sin + cos + atan2; }
};
Calls calls;

// Counts the calls that `body` makes.
template <typename Body>
Calls count_calls(Body&& body) {
  calls = Calls{};
  body();
  return calls;
}

}  // namespace

extern "C" {
void __real_sincos(double x, double* s, double* c);
double __real_sin(double x);
double __real_cos(double x);
double __real_atan2(double y, double x);

void __wrap_sincos(double x, double* s, double* c) {
  ++calls.sincos;
  __real_sincos(x, s, c);
}
double __wrap_sin(double x) {
  ++calls.sin;
  return __real_sin(x);
}
double __wrap_cos(double x) {
  ++calls.cos;
  return __real_cos(x);
}
double __wrap_atan2(double y, double x) {
  ++calls.atan2;
  return __real_atan2(y, x);
}
}

namespace {

using arm::Branch;
using arm::SphericalLinkGeometry;
using core::JointPair;
using core::Mat3;
using core::Vec3;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kForwardLimit = 4;   // sincos of the arm arc and of both angles, cos of the coupler
constexpr int kInverseLimit = 11;  // and sincos and atan2 of two angles per arm, cos of the arm

const SphericalLinkGeometry kGeometries[] = {arm::kDefaultLeft,
                                             arm::kDefaultRight,
                                             {0.7, 0.5, Branch::negative, false},
                                             {1.0, 0.6, Branch::negative, true}};
// The loop barely closes at zero angles.
constexpr SphericalLinkGeometry kStretched{0.7, 0.0854, Branch::positive, false};

// The counter sees a call made here, so that the counts below mean something.
TEST(LibmCalls, TheWrappersSeeEveryCall) {
  // Separate volatile arguments, so that the compiler neither folds nor merges the calls.
  volatile double x[4] = {0.3, 0.4, 0.5, 0.6};
  double s = 0.0;
  double c = 0.0;
  const Calls seen = count_calls([&] {
    ::sincos(x[0], &s, &c);
    s += std::sin(x[1]) + std::cos(x[2]) + std::atan2(x[3], 1.0);
  });
  EXPECT_EQ(seen.sincos, 1);
  EXPECT_EQ(seen.sin, 1);
  EXPECT_EQ(seen.cos, 1);
  EXPECT_EQ(seen.atan2, 1);
}

// A joint pair with both angles non-zero makes every call forward kinematics needs; each angle
// that is exactly zero saves its sincos. The closure test makes no more, and none at all where
// the loop clearly closes or clearly does not.
TEST(LibmCalls, ForwardKinematicsAndTheClosureTestMakeAtMostFour) {
  const double angles[] = {0.3, -0.4, 1.0, 2.0, 0.0, -0.0, kNaN, kInf, 1e300};
  for (const SphericalLinkGeometry& g :
       {kGeometries[0], kGeometries[1], kGeometries[2], kGeometries[3], kStretched}) {
    for (const double theta_a : angles) {
      for (const double theta_b : angles) {
        SCOPED_TRACE(::testing::Message() << theta_a << ", " << theta_b << ", " << g.arm_arc);
        const int expected = kForwardLimit - (theta_a == 0.0) - (theta_b == 0.0);
        const Calls fk = count_calls([&] { (void)arm::forward_kinematics(g, theta_a, theta_b); });
        const Calls closes = count_calls([&] { (void)arm::loop_closes(g, theta_a, theta_b); });
        EXPECT_EQ(fk.total(), expected);
        EXPECT_LE(closes.total(), expected);
        EXPECT_EQ(fk.sincos, expected - 1);
      }
    }
  }
}

TEST(LibmCalls, TheClosureTestDecidesClearCasesWithoutTheLibrary) {
  for (const SphericalLinkGeometry& g : kGeometries) {
    for (const auto& [theta_a, theta_b] : {std::pair{0.3, -0.4}, {1.0, 1.0}, {-2.5, 3.0}}) {
      EXPECT_EQ(count_calls([&] { (void)arm::loop_closes(g, theta_a, theta_b); }).total(), 0);
    }
  }
}

struct Targets {
  std::vector<SphericalLinkGeometry> geometries;
  std::vector<Mat3> rotations;
  std::vector<Vec3> directions;
};

// Reachable rotations and directions (forward kinematics of random pairs), and unreachable
// ones: the joint axes, outside the workspace, rolled, not a number, zero, tiny and huge.
Targets sample_targets(const SphericalLinkGeometry& g) {
  Targets t;
  std::mt19937_64 rng(0xca11);
  std::uniform_real_distribution<double> angle(-std::numbers::pi, std::numbers::pi);
  for (int i = 0; i < 200; ++i) {
    const arm::FkResult fk = arm::forward_kinematics(g, angle(rng), angle(rng));
    if (const auto* s = std::get_if<arm::FkSolution>(&fk)) {
      t.rotations.push_back(s->rotation);
      t.directions.push_back(s->v_3);
      Mat3 rolled = s->rotation;
      for (auto& row : rolled) std::swap(row[0], row[1]);
      t.rotations.push_back(rolled);
      t.directions.push_back({1e300 * s->v_3.x, 1e300 * s->v_3.y, 1e300 * s->v_3.z});
    }
  }
  const Vec3 unreachable[] = {{0, 0, 1}, {0, 0, -1},    {1, 0, 0},    {-1, 0, 0},  {0, 1, 0},
                              {0, 0, 0}, {1e-13, 0, 0}, {kNaN, 0, 1}, {kInf, 1, 1}};
  for (const Vec3& v : unreachable) {
    t.directions.push_back(v);
    t.rotations.push_back({{{1, 0, v.x}, {0, 1, v.y}, {0, 0, v.z}}});
  }
  return t;
}

TEST(LibmCalls, InverseKinematicsMakesAtMostEleven) {
  for (const SphericalLinkGeometry& g : kGeometries) {
    const Targets t = sample_targets(g);
    int reached = 0;
    for (const Mat3& r : t.rotations) {
      std::optional<JointPair> pair;
      const Calls seen = count_calls([&] { pair = arm::inverse_kinematics(g, r); });
      EXPECT_LE(seen.total(), kInverseLimit) << r[0][2] << " " << r[1][2] << " " << r[2][2];
      reached += pair.has_value();
    }
    for (const Vec3& v : t.directions) {
      for (const std::optional<JointPair>& near :
           {std::optional<JointPair>{}, std::optional<JointPair>{JointPair{0.3, -1.2}}}) {
        std::optional<JointPair> pair;
        const Calls seen =
            count_calls([&] { pair = arm::inverse_kinematics_from_direction(g, v, near); });
        EXPECT_LE(seen.total(), kInverseLimit) << v.x << " " << v.y << " " << v.z;
        reached += pair.has_value();
      }
    }
    // Reachable and unreachable targets alike were counted.
    EXPECT_GT(reached, 0) << g.arm_arc << ", " << g.coupler_arc;
    EXPECT_LT(reached, static_cast<int>(t.rotations.size() + 2 * t.directions.size()));
  }
}

// Four candidates with non-zero angles: every call is made, and none goes past the counter.
TEST(LibmCalls, AFullEnumerationMakesExactlyEleven) {
  const arm::FkSolution s =
      std::get<arm::FkSolution>(arm::forward_kinematics(arm::kDefaultLeft, 0.3, -0.4));
  ASSERT_EQ(arm::enumerate_candidates(arm::kDefaultLeft, s.v_3).size(), 4u);
  const Calls by_rotation =
      count_calls([&] { (void)arm::inverse_kinematics(arm::kDefaultLeft, s.rotation); });
  const Calls by_direction = count_calls(
      [&] { (void)arm::inverse_kinematics_from_direction(arm::kDefaultLeft, s.v_3, {}); });
  for (const Calls& seen : {by_rotation, by_direction}) {
    EXPECT_EQ(seen.sincos, 5);
    EXPECT_EQ(seen.cos, 2);
    EXPECT_EQ(seen.atan2, 4);
    EXPECT_EQ(seen.sin, 0);
  }
}

}  // namespace
