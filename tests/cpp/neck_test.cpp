#include <vornalt_torso_kinematics/neck/neck.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <variant>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using neck::fk;
using neck::ik;
using neck::JointTriple;
using neck::Mat3;

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Largest pitch magnitude at which the inverse is still expected to work.
constexpr double kPitchLimit = kPi / 2 - 0.0015;
// Agreement of a round trip, and of orthonormality and determinant, after rounding.
constexpr double kRoundTripTolerance = 1e-12;
constexpr double kRoundingTolerance = 4e-15;

std::uint64_t bits(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

// Exact equality that also tells +0.0 from -0.0.
void expect_same_bits(const Mat3& actual, const Mat3& expected) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_EQ(bits(actual[i][j]), bits(expected[i][j]))
          << "entry [" << i << "][" << j << "]: " << actual[i][j] << " vs " << expected[i][j];
}

JointTriple solved(const Mat3& r) {
  const neck::IkResult result = ik(r);
  EXPECT_TRUE(std::holds_alternative<JointTriple>(result)) << "unexpected gimbal lock";
  return std::holds_alternative<JointTriple>(result) ? std::get<JointTriple>(result)
                                                     : JointTriple{kNaN, kNaN, kNaN};
}

bool locked(const Mat3& r) {
  return std::holds_alternative<neck::GimbalLock>(ik(r));
}

// The elementary rotation about one axis (0 = x, 1 = y, 2 = z), zero entries +0.0.
Mat3 elementary(int axis, double angle) {
  double s, c;
  ::sincos(angle, &s, &c);
  if (axis == 2) return {{{c, -s, 0.0}, {s, c, 0.0}, {0.0, 0.0, 1.0}}};
  if (axis == 1) return {{{c, 0.0, s}, {0.0, 1.0, 0.0}, {-s, 0.0, c}}};
  return {{{1.0, 0.0, 0.0}, {0.0, c, -s}, {0.0, s, c}}};
}

JointTriple with_joint(int axis, double angle) {
  if (axis == 2) return {angle, 0.0, 0.0};
  if (axis == 1) return {0.0, angle, 0.0};
  return {0.0, 0.0, angle};
}

const Mat3 kIdentity{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};

TEST(NeckFk, ZeroAnglesOfEitherSignGiveTheExactIdentity) {
  for (const double yaw : {0.0, -0.0})
    for (const double pitch : {0.0, -0.0})
      for (const double roll : {0.0, -0.0}) {
        SCOPED_TRACE(testing::Message() << yaw << ", " << pitch << ", " << roll);
        expect_same_bits(fk({yaw, pitch, roll}), kIdentity);
      }
}

// For yaw -0.3 this pins r[0][2], r[1][2], r[2][0] and r[2][1] to +0.0.
TEST(NeckFk, OneNonzeroJointGivesExactlyItsElementaryRotation) {
  for (int axis = 0; axis < 3; ++axis)
    for (const double angle : {-0.3, 0.3, 1.7, -2.9, kPi, -kPi / 2, 4.0, 1e-300}) {
      SCOPED_TRACE(testing::Message() << "axis " << axis << ", angle " << angle);
      expect_same_bits(fk(with_joint(axis, angle)), elementary(axis, angle));
    }
}

TEST(NeckFk, IsExactlyTheClosedFormProductAndARotation) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> angle(-7.0, 7.0);
  for (int n = 0; n < 2000; ++n) {
    const JointTriple q{angle(rng), angle(rng), angle(rng)};
    const Mat3 r = fk(q);
    double sy, cy, sp, cp, sr, cr;
    ::sincos(q.yaw, &sy, &cy);
    ::sincos(q.pitch, &sp, &cp);
    ::sincos(q.roll, &sr, &cr);
    const Mat3 closed{{{cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr},
                       {sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr},
                       {-sp, cp * sr, cp * cr}}};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        // The zero terms of the two products vanish exactly, so the table is met bit for bit.
        EXPECT_EQ(bits(r[i][j]), bits(closed[i][j])) << i << ", " << j;
        const double gram = r[0][i] * r[0][j] + r[1][i] * r[1][j] + r[2][i] * r[2][j];
        EXPECT_NEAR(gram, i == j ? 1.0 : 0.0, kRoundingTolerance);
      }
    }
    const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                       r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                       r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    EXPECT_NEAR(det, 1.0, kRoundingTolerance);
  }
}

TEST(NeckFk, NonFiniteAngleSpoilsExactlyTheEntriesItsFactorReaches) {
  for (const double bad : {kNaN, kInf, -kInf}) {
    for (const double other : {0.0, 0.4, -2.2}) {
      SCOPED_TRACE(testing::Message() << "bad " << bad << ", other " << other);
      // Yaw mixes rows 0 and 1 only: row 2 is what any finite yaw gives.
      const Mat3 by_yaw = fk({bad, other, -other});
      const Mat3 finite_yaw = fk({0.7, other, -other});
      // Roll mixes columns 1 and 2 only: column 0 is what any finite roll gives.
      const Mat3 by_roll = fk({other, -other, bad});
      const Mat3 finite_roll = fk({other, -other, 0.7});
      // Pitch reaches every row, and the roll product then every entry.
      const Mat3 by_pitch = fk({other, bad, -other});
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::isnan(by_yaw[0][k]) && std::isnan(by_yaw[1][k]));
        EXPECT_EQ(bits(by_yaw[2][k]), bits(finite_yaw[2][k]));
        EXPECT_TRUE(std::isnan(by_roll[k][1]) && std::isnan(by_roll[k][2]));
        EXPECT_EQ(bits(by_roll[k][0]), bits(finite_roll[k][0]));
        for (int j = 0; j < 3; ++j) EXPECT_TRUE(std::isnan(by_pitch[k][j]));
      }
    }
  }
  const Mat3 r = fk({kNaN, 0.0, 0.0});
  EXPECT_EQ(bits(r[2][0]), bits(0.0));
  EXPECT_EQ(bits(r[2][1]), bits(0.0));
  EXPECT_EQ(r[2][2], 1.0);
}

TEST(NeckIk, PitchTwoRadiansResolvesThroughPositiveZerosToPlusPi) {
  const Mat3 r = fk({0.0, 2.0, 0.0});
  EXPECT_EQ(bits(r[1][0]), bits(0.0));
  EXPECT_EQ(bits(r[2][1]), bits(0.0));
  const JointTriple q = solved(r);
  EXPECT_EQ(q.yaw, 3.141592653589793);
  EXPECT_EQ(q.pitch, 1.1415926535897933);
  EXPECT_EQ(q.roll, 3.141592653589793);
}

TEST(NeckIk, SignedZerosOfTheResult) {
  // Half a turn of yaw: pitch is asin(-(+0.0)) = -0.0 and roll atan2(+0.0, 1) = +0.0.
  const JointTriple half_turn = solved(fk({kPi, 0.0, 0.0}));
  EXPECT_EQ(half_turn.yaw, kPi);
  EXPECT_EQ(bits(half_turn.pitch), bits(-0.0));
  EXPECT_EQ(bits(half_turn.roll), bits(0.0));
  const JointTriple rest = solved(kIdentity);
  EXPECT_EQ(bits(rest.yaw), bits(0.0));
  EXPECT_EQ(bits(rest.pitch), bits(-0.0));
  EXPECT_EQ(bits(rest.roll), bits(0.0));
}

TEST(NeckIk, RoundTripRestoresTriplesInsideThePitchLimit) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> turn(-kPi, kPi);
  std::uniform_real_distribution<double> tilt(-kPitchLimit, kPitchLimit);
  auto check = [](const JointTriple& q) {
    const JointTriple back = solved(fk(q));
    EXPECT_NEAR(back.yaw, q.yaw, kRoundTripTolerance) << q.yaw << ", " << q.pitch << ", " << q.roll;
    EXPECT_NEAR(back.pitch, q.pitch, kRoundTripTolerance);
    EXPECT_NEAR(back.roll, q.roll, kRoundTripTolerance);
  };
  for (const JointTriple& q : {JointTriple{0.3, -0.2, 0.1}, JointTriple{kPi, 0.0, kPi},
                               JointTriple{kPi, kPitchLimit, -3.0},
                               JointTriple{-3.0, -kPitchLimit, kPi}, JointTriple{0.0, 0.0, 0.0}})
    check(q);
  for (int n = 0; n < 5000; ++n) check({turn(rng), tilt(rng), turn(rng)});
}

TEST(NeckIk, GimbalLockBoundaryOnTheReadEntry) {
  for (const double x : {1.0, -1.0, 0.9999995, -0.9999995, 1.5, -1.5, kInf, -kInf}) {
    Mat3 r = kIdentity;
    r[2][0] = x;
    EXPECT_TRUE(locked(r)) << x;
  }
  // 1 - 0.999999 rounds to 1.0000000000287557e-06, just above the tolerance.
  for (const double x : {0.999999, -0.999999, 0.999998, -0.999998, 0.5, -0.0}) {
    Mat3 r = kIdentity;
    r[2][0] = x;
    const JointTriple q = solved(r);
    EXPECT_EQ(bits(q.pitch), bits(std::asin(-x))) << x;
    EXPECT_EQ(q.yaw, 0.0);
    EXPECT_EQ(q.roll, 0.0);
  }
}

TEST(NeckIk, GimbalLockBoundaryOnThePitch) {
  for (const double sign : {1.0, -1.0}) {
    EXPECT_TRUE(locked(fk({0.0, sign * (kPi / 2 - 0.0014), 0.0})));
    EXPECT_TRUE(locked(fk({0.5, sign * kPi / 2, -0.5})));
    const JointTriple q = solved(fk({0.0, sign * (kPi / 2 - 0.0015), 0.0}));
    EXPECT_NEAR(q.pitch, sign * (kPi / 2 - 0.0015), kRoundTripTolerance);
  }
}

TEST(NeckIk, ReadsOnlyColumnZeroAndTheLastRow) {
  const Mat3 r = fk({0.8, -0.6, 2.5});
  const JointTriple reference = solved(r);
  for (const double garbage : {kNaN, kInf, -7.0, 0.0}) {
    Mat3 spoiled = r;
    spoiled[0][1] = spoiled[0][2] = spoiled[1][1] = spoiled[1][2] = garbage;
    const JointTriple q = solved(spoiled);
    EXPECT_EQ(bits(q.yaw), bits(reference.yaw)) << garbage;
    EXPECT_EQ(bits(q.pitch), bits(reference.pitch)) << garbage;
    EXPECT_EQ(bits(q.roll), bits(reference.roll)) << garbage;
  }
}

TEST(NeckIk, NotANumberFlowsThroughInsteadOfFailing) {
  Mat3 r = fk({0.8, -0.6, 2.5});
  r[2][0] = kNaN;
  const JointTriple q = solved(r);
  EXPECT_TRUE(std::isnan(q.pitch));
  EXPECT_EQ(q.yaw, std::atan2(r[1][0], r[0][0]));
  EXPECT_EQ(q.roll, std::atan2(r[2][1], r[2][2]));
  r = kIdentity;
  r[0][0] = kNaN;
  r[2][2] = kNaN;
  const JointTriple p = solved(r);
  EXPECT_TRUE(std::isnan(p.yaw));
  EXPECT_TRUE(std::isnan(p.roll));
  EXPECT_EQ(bits(p.pitch), bits(-0.0));
}

}  // namespace
