// The shipped arm routines against the unfused transcription of their arithmetic: every double
// of every result must have the same bits (signed zeros included; a not-a-number must be one
// in both), over fixed-seed samples of each class of input.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <variant>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>
#include "unfused_arm.hpp"

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using arm::Branch;
using arm::CandidateList;
using arm::FkResult;
using arm::FkSolution;
using arm::SphericalLinkGeometry;
using core::JointPair;
using core::Mat3;
using core::Vec3;
using Rng = std::mt19937_64;

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Cases per class; every routine sees at least 100,000 cases over its classes.
constexpr int kCasesPerClass = 24000;
// Mismatches reported in full before a class gives up.
constexpr int kReported = 5;

// ---------------------------------------------------------------------------------------------
// Bitwise comparison and printing.

// Every result type compared here is made of doubles only, without padding. Each double must
// have the same bits, signed zeros included, except that any not-a-number matches any other:
// which sign and payload a not-a-number result carries, when not-a-number operands meet or one
// is negated, is chosen by the optimiser (the unfused source itself gives other ones at -O2
// than at -O3), not by the arithmetic.
template <typename T>
bool same_bits(const T& a, const T& b) {
  static_assert(sizeof(T) % sizeof(double) == 0);
  constexpr std::size_t kCount = sizeof(T) / sizeof(double);
  double x[kCount];
  double y[kCount];
  std::memcpy(x, &a, sizeof(T));
  std::memcpy(y, &b, sizeof(T));
  for (std::size_t i = 0; i < kCount; ++i) {
    const bool both_nan = std::isnan(x[i]) && std::isnan(y[i]);
    if (!both_nan && std::bit_cast<std::uint64_t>(x[i]) != std::bit_cast<std::uint64_t>(y[i])) {
      return false;
    }
  }
  return true;
}

bool same_bits(const FkResult& a, const FkResult& b) {
  if (a.index() != b.index()) return false;
  const auto* sa = std::get_if<FkSolution>(&a);
  return sa == nullptr || same_bits(*sa, std::get<FkSolution>(b));
}

bool same_bits(const std::optional<Vec3>& a, const std::optional<Vec3>& b) {
  return a.has_value() == b.has_value() && (!a || same_bits(*a, *b));
}

bool same_bits(const std::optional<JointPair>& a, const std::optional<JointPair>& b) {
  return a.has_value() == b.has_value() && (!a || same_bits(*a, *b));
}

bool same_bits(const CandidateList& a, const CandidateList& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_bits(a[i], b[i])) return false;
  }
  return true;
}

// Doubles printed exactly, with their bits, so that a reported case can be replayed.
struct Exact {
  double value;
};

std::ostream& operator<<(std::ostream& out, Exact x) {
  const std::ios_base::fmtflags flags = out.flags();
  out << std::hexfloat << x.value << " [0x" << std::hex << std::bit_cast<std::uint64_t>(x.value)
      << "]";
  out.flags(flags);
  return out;
}

std::string text(const SphericalLinkGeometry& g) {
  std::ostringstream out;
  out << "geometry {" << Exact{g.arm_arc} << ", " << Exact{g.coupler_arc} << ", "
      << (g.branch == Branch::negative ? "negative" : "positive")
      << (g.mirror ? ", mirror}" : ", no mirror}");
  return out.str();
}

std::string text(const Vec3& v) {
  std::ostringstream out;
  out << "(" << Exact{v.x} << ", " << Exact{v.y} << ", " << Exact{v.z} << ")";
  return out.str();
}

std::string text(const std::optional<JointPair>& pair) {
  if (!pair) return "none";
  std::ostringstream out;
  out << "(" << Exact{pair->theta_a} << ", " << Exact{pair->theta_b} << ")";
  return out.str();
}

// ---------------------------------------------------------------------------------------------
// Generators.

// A generator seeded from the name of the class of cases it makes.
Rng seeded(const char* name) {
  std::seed_seq seed(name, name + std::strlen(name));
  return Rng(seed);
}

double uniform(Rng& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

bool coin(Rng& rng) {
  return (rng() & 1u) != 0;
}

template <typename T, std::size_t N>
const T& pick(Rng& rng, const T (&items)[N]) {
  return items[rng() % N];
}

// 10^e for e uniform in [lo, hi].
double log_uniform(Rng& rng, double lo, double hi) {
  return std::pow(10.0, uniform(rng, lo, hi));
}

// Values that stress the comparisons and the maths library: not-a-number of either sign,
// infinities, signed zeros, huge, tiny and subnormal magnitudes, and the thresholds.
const double kSpecial[] = {kNaN,  -kNaN,  kInf,    -kInf,  0.0,     -0.0,
                           1e300, -1e300, 1e22,    5e-324, -5e-324, 2.2250738585072014e-308,
                           1.0,   -1.0,   kPi / 2, kPi,    1e-12,   0.9};

SphericalLinkGeometry any_geometry(Rng& rng) {
  return {uniform(rng, -1.6, 1.6), uniform(rng, 0.02, 1.6),
          coin(rng) ? Branch::negative : Branch::positive, coin(rng)};
}

const SphericalLinkGeometry kArms[] = {arm::kDefaultLeft,
                                       arm::kDefaultRight,
                                       {0.7, 0.5, Branch::negative, false},
                                       {0.7, 0.5, Branch::negative, true}};

Vec3 unit(const Vec3& v) {
  const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / n, v.y / n, v.z / n};
}

Vec3 random_unit(Rng& rng) {
  std::normal_distribution<double> normal;
  return unit({normal(rng), normal(rng), normal(rng)});
}

// The unit vector at arc `polar` from `axis` (a unit vector), turned by `azimuth` about it.
Vec3 around(const Vec3& axis, double polar, double azimuth) {
  const Vec3 helper = std::abs(axis.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 p = unit(core::cross(axis, helper));
  const Vec3 q = core::cross(axis, p);
  const double c = std::cos(polar);
  const double s = std::sin(polar);
  const double ca = std::cos(azimuth);
  const double sa = std::sin(azimuth);
  return {c * axis.x + s * (ca * p.x + sa * q.x), c * axis.y + s * (ca * p.y + sa * q.y),
          c * axis.z + s * (ca * p.z + sa * q.z)};
}

// A rotation whose third column is the unit vector z, rolled by `roll` about it.
Mat3 frame_along(const Vec3& z, double roll) {
  const Vec3 helper = std::abs(z.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 p = unit(core::cross(helper, z));
  const Vec3 q = core::cross(z, p);
  const Vec3 x{std::cos(roll) * p.x + std::sin(roll) * q.x,
               std::cos(roll) * p.y + std::sin(roll) * q.y,
               std::cos(roll) * p.z + std::sin(roll) * q.z};
  const Vec3 y = core::cross(z, x);
  return {{{x.x, y.x, z.x}, {x.y, y.y, z.y}, {x.z, y.z, z.z}}};
}

// The rotation r turned about its own third column by `roll`.
Mat3 rolled(const Mat3& r, double roll) {
  const double c = std::cos(roll);
  const double s = std::sin(roll);
  Mat3 out = r;
  for (int i = 0; i < 3; ++i) {
    out[i][0] = c * r[i][0] + s * r[i][1];
    out[i][1] = c * r[i][1] - s * r[i][0];
  }
  return out;
}

// The forward kinematics of a random joint pair whose loop closes; a few tries, then any.
FkSolution reachable(Rng& rng, const SphericalLinkGeometry& g, double angle_range) {
  FkResult result = arm::LoopNotClosed{};
  for (int tries = 0; tries < 64; ++tries) {
    result = unfused::forward_kinematics(g, uniform(rng, -angle_range, angle_range),
                                         uniform(rng, -angle_range, angle_range));
    if (std::holds_alternative<FkSolution>(result)) break;
  }
  if (const auto* s = std::get_if<FkSolution>(&result)) return *s;
  return std::get<FkSolution>(unfused::forward_kinematics(arm::kDefaultLeft, 0.3, -0.4));
}

// The joint axes and their opposites, for either mirror setting.
const Vec3 kAxes[] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}};

// A unit direction at an arc of 10^lo to 10^hi from a joint axis, now and then on it.
Vec3 near_axis(Rng& rng, double lo, double hi) {
  const Vec3& axis = pick(rng, kAxes);
  if (rng() % 8 == 0) return axis;
  return around(axis, log_uniform(rng, lo, hi), uniform(rng, -kPi, kPi));
}

// A unit direction on the edge of the region that a tip of arm length a and coupler c can
// serve: arc a + c or |a - c| from the axis of joint A or B, give or take a few 1e-9.
Vec3 workspace_edge(Rng& rng, const SphericalLinkGeometry& g) {
  const double a = std::abs(g.arm_arc);
  const double c = g.coupler_arc;
  const double polar = (coin(rng) ? a + c : std::abs(a - c)) + uniform(rng, -4e-9, 4e-9);
  const Vec3 axis = coin(rng) ? Vec3{0, 0, 1} : Vec3{g.mirror ? -1.0 : 1.0, 0, 0};
  return around(axis, polar, uniform(rng, -kPi, kPi));
}

// ---------------------------------------------------------------------------------------------
// Forward kinematics and the intersection.

struct JointsCase {
  SphericalLinkGeometry geometry;
  double theta_a;
  double theta_b;
};

struct JointsClass {
  const char* name;
  JointsCase (*make)(Rng&);
  bool stretched = false;  // some cases put v_3 on the midpoint of the tips
};

// The arc between the tips of geometry g at (theta_a, theta_b), by the tip formulas.
double tip_arc(const SphericalLinkGeometry& g, double theta_a, double theta_b) {
  const double m = g.mirror ? -1.0 : 1.0;
  const Vec3 v_2{m * std::sin(g.arm_arc) * std::cos(theta_a),
                 m * std::sin(g.arm_arc) * std::sin(theta_a), std::cos(g.arm_arc)};
  const Vec3 v_4{m * std::cos(g.arm_arc), -m * std::sin(g.arm_arc) * std::sin(theta_b),
                 std::sin(g.arm_arc) * std::cos(theta_b)};
  return std::acos(std::fmin(1.0, std::fmax(-1.0, core::dot(v_2, v_4))));
}

const JointsClass kJointsClasses[] = {
    {"any_geometry",
     [](Rng& rng) {
       return JointsCase{any_geometry(rng), uniform(rng, -3 * kPi, 3 * kPi),
                         uniform(rng, -3 * kPi, 3 * kPi)};
     }},
    {"default_arms",
     [](Rng& rng) {
       return JointsCase{pick(rng, kArms), uniform(rng, -kPi, kPi), uniform(rng, -kPi, kPi)};
     }},
    {"zero_angles",
     [](Rng& rng) {
       const double zeros[] = {0.0, -0.0};
       const double a = uniform(rng, -kPi, kPi);
       const double b = uniform(rng, -kPi, kPi);
       const int which = static_cast<int>(rng() % 3);
       return JointsCase{coin(rng) ? pick(rng, kArms) : any_geometry(rng),
                         which == 1 ? a : pick(rng, zeros), which == 2 ? b : pick(rng, zeros)};
     }},
    // Coupler arcs within a few units in the last place of half the tip distance: the loop
    // barely closes, barely fails, or is stretched so far that the x axis needs the fallback.
    // Or within 1e-12 to 1e-3 of it, where the closure test's own margin lies.
    {"stretch_limit",
     [](Rng& rng) {
       SphericalLinkGeometry g = coin(rng) ? pick(rng, kArms) : any_geometry(rng);
       g.arm_arc = coin(rng) ? 0.7 : uniform(rng, 0.2, 1.3);
       const double theta_a = coin(rng) ? 0.0 : uniform(rng, -0.3, 0.3);
       const double theta_b = coin(rng) ? 0.0 : uniform(rng, -0.3, 0.3);
       double coupler = tip_arc(g, theta_a, theta_b) / 2;
       if (coin(rng)) coupler *= 1.0 + (coin(rng) ? 1.0 : -1.0) * log_uniform(rng, -12, -3);
       for (int k = static_cast<int>(rng() % 129) - 64; k != 0; k += k > 0 ? -1 : 1) {
         coupler = std::nextafter(coupler, k > 0 ? kInf : 0.0);
       }
       g.coupler_arc = coupler;
       return JointsCase{g, theta_a, theta_b};
     },
     true},
    // arm_arc near pi/4 with angles near zero: the tips coincide or nearly so.
    {"coincident_tips",
     [](Rng& rng) {
       SphericalLinkGeometry g = any_geometry(rng);
       g.arm_arc = kPi / 4;
       for (int k = static_cast<int>(rng() % 9) - 4; k != 0; k += k > 0 ? -1 : 1) {
         g.arm_arc = std::nextafter(g.arm_arc, k > 0 ? kInf : 0.0);
       }
       const auto small = [&rng] { return coin(rng) ? 0.0 : uniform(rng, -1e-7, 1e-7); };
       return JointsCase{g, small(), small()};
     }},
    {"special_values",
     [](Rng& rng) {
       JointsCase c{any_geometry(rng), uniform(rng, -kPi, kPi), uniform(rng, -kPi, kPi)};
       double* slots[] = {&c.geometry.arm_arc, &c.geometry.coupler_arc, &c.theta_a, &c.theta_b};
       for (double* slot : slots) {
         if (rng() % 3 == 0) *slot = pick(rng, kSpecial);
       }
       return c;
     }},
};

class FusedForward : public ::testing::TestWithParam<JointsClass> {};

// Whether the x axis came from the fallback: v_3 is (within 1e-12) the midpoint of the tips.
bool on_midpoint(const FkSolution& s) {
  const Vec3 u = unit({s.v_2.x + s.v_4.x, s.v_2.y + s.v_4.y, s.v_2.z + s.v_4.z});
  const double along = core::dot(u, s.v_3);
  const Vec3 w{u.x - along * s.v_3.x, u.y - along * s.v_3.y, u.z - along * s.v_3.z};
  return std::sqrt(core::dot(w, w)) <= 1e-12;
}

TEST_P(FusedForward, MatchesTheUnfusedArithmeticBitForBit) {
  Rng rng = seeded(GetParam().name);
  int mismatches = 0;
  int closed = 0;
  int stretched = 0;
  for (int i = 0; i < kCasesPerClass && mismatches < kReported; ++i) {
    const JointsCase c = GetParam().make(rng);
    const FkResult expected = unfused::forward_kinematics(c.geometry, c.theta_a, c.theta_b);
    const FkResult got = arm::forward_kinematics(c.geometry, c.theta_a, c.theta_b);
    const auto* solution = std::get_if<FkSolution>(&expected);
    closed += solution != nullptr;
    stretched += solution != nullptr && on_midpoint(*solution);
    if (!same_bits(expected, got) ||
        arm::loop_closes(c.geometry, c.theta_a, c.theta_b) != (solution != nullptr)) {
      ++mismatches;
      ADD_FAILURE() << "case " << i << ": " << text(c.geometry) << ", theta_a " << Exact{c.theta_a}
                    << ", theta_b " << Exact{c.theta_b};
    }
  }
  // Both outcomes occur in every class, so that neither path goes untested.
  EXPECT_GT(closed, kCasesPerClass / 100);
  EXPECT_LT(closed, kCasesPerClass - kCasesPerClass / 100);
  if (GetParam().stretched) {
    EXPECT_GT(stretched, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, FusedForward, ::testing::ValuesIn(kJointsClasses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FusedIntersection, MatchesTheUnfusedArithmeticBitForBit) {
  Rng rng = seeded("intersection");
  int mismatches = 0;
  for (int i = 0; i < 5 * kCasesPerClass && mismatches < kReported; ++i) {
    const Vec3 a = coin(rng) ? random_unit(rng) : pick(rng, kAxes);
    Vec3 b = random_unit(rng);
    if (rng() % 8 == 0) b = coin(rng) ? a : Vec3{-a.x, -a.y, -a.z};
    double radius_a = uniform(rng, 0.0, kPi);
    double radius_b = uniform(rng, 0.0, kPi);
    if (rng() % 8 == 0) (coin(rng) ? radius_a : radius_b) = pick(rng, kSpecial);
    if (rng() % 16 == 0) b.y = pick(rng, kSpecial);
    const double sign = coin(rng) ? 1.0 : -1.0;
    const auto expected = unfused::intersect_small_circles(a, b, radius_a, radius_b, sign);
    if (!same_bits(expected, arm::intersect_small_circles(a, b, radius_a, radius_b, sign))) {
      ++mismatches;
      ADD_FAILURE() << "case " << i << ": centres " << text(a) << ", " << text(b) << ", radii "
                    << Exact{radius_a} << ", " << Exact{radius_b} << ", sign " << sign;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Inverse kinematics from a rotation, and the candidates of its pointing direction.

struct RotationCase {
  SphericalLinkGeometry geometry;
  Mat3 r_target;
};

struct RotationClass {
  const char* name;
  RotationCase (*make)(Rng&);
  bool mixed;  // both reachable and unreachable targets occur
};

// A rotation pointing along the unit vector u: half the time the rotation of one of its
// candidates, which the arm can take, else one with a random roll.
Mat3 pointing_along(Rng& rng, const SphericalLinkGeometry& g, const Vec3& u) {
  const CandidateList candidates = unfused::enumerate_candidates(g, u);
  if (candidates.empty() || coin(rng)) return frame_along(u, uniform(rng, -kPi, kPi));
  return candidates[rng() % candidates.size()].solution.rotation;
}

// Default arms or any geometry; now and then one whose coupler is as long as its arms, so
// that directions near the joint axes can be reached.
SphericalLinkGeometry varied_geometry(Rng& rng) {
  SphericalLinkGeometry g = coin(rng) ? pick(rng, kArms) : any_geometry(rng);
  if (coin(rng)) g.coupler_arc = std::abs(g.arm_arc);
  return g;
}

const RotationClass kRotationClasses[] = {
    {"reachable",
     [](Rng& rng) {
       const SphericalLinkGeometry g = any_geometry(rng);
       return RotationCase{g, reachable(rng, g, 3 * kPi).rotation};
     },
     true},
    // Rolled about the pointing direction by up to twice the acceptance limit.
    {"rolled",
     [](Rng& rng) {
       const SphericalLinkGeometry g = coin(rng) ? pick(rng, kArms) : any_geometry(rng);
       const Mat3 r = reachable(rng, g, kPi).rotation;
       return RotationCase{g, rolled(r, uniform(rng, -1.5e-6, 1.5e-6))};
     },
     true},
    {"near_joint_axes",
     [](Rng& rng) {
       const SphericalLinkGeometry g = varied_geometry(rng);
       return RotationCase{g, pointing_along(rng, g, near_axis(rng, -16, -2))};
     },
     true},
    {"workspace_edge",
     [](Rng& rng) {
       const SphericalLinkGeometry g = varied_geometry(rng);
       return RotationCase{g, pointing_along(rng, g, workspace_edge(rng, g))};
     },
     true},
    {"special_entries",
     [](Rng& rng) {
       const SphericalLinkGeometry g = pick(rng, kArms);
       Mat3 r = reachable(rng, g, kPi).rotation;
       const int count = 1 + static_cast<int>(rng() % 3);
       for (int k = 0; k < count; ++k) r[rng() % 3][rng() % 3] = pick(rng, kSpecial);
       return RotationCase{g, r};
     },
     false},
};

class FusedOrientation : public ::testing::TestWithParam<RotationClass> {};

TEST_P(FusedOrientation, MatchesTheUnfusedArithmeticBitForBit) {
  Rng rng = seeded(GetParam().name);
  int mismatches = 0;
  int solved = 0;
  for (int i = 0; i < kCasesPerClass && mismatches < kReported; ++i) {
    const RotationCase c = GetParam().make(rng);
    const Vec3 pointing{c.r_target[0][2], c.r_target[1][2], c.r_target[2][2]};
    const std::optional<JointPair> expected = unfused::inverse_kinematics(c.geometry, c.r_target);
    solved += expected.has_value();
    if (!same_bits(expected, arm::inverse_kinematics(c.geometry, c.r_target)) ||
        !same_bits(unfused::enumerate_candidates(c.geometry, pointing),
                   arm::enumerate_candidates(c.geometry, pointing))) {
      ++mismatches;
      ADD_FAILURE() << "case " << i << ": " << text(c.geometry) << ", r_target columns "
                    << text({c.r_target[0][0], c.r_target[1][0], c.r_target[2][0]}) << ", "
                    << text({c.r_target[0][1], c.r_target[1][1], c.r_target[2][1]}) << ", "
                    << text(pointing);
    }
  }
  if (GetParam().mixed) {
    EXPECT_GT(solved, kCasesPerClass / 100);
    EXPECT_LT(solved, kCasesPerClass - kCasesPerClass / 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, FusedOrientation, ::testing::ValuesIn(kRotationClasses),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Inverse kinematics from a direction.

struct DirectionCase {
  SphericalLinkGeometry geometry;
  Vec3 v3;
  std::optional<JointPair> near;
};

struct DirectionClass {
  const char* name;
  DirectionCase (*make)(Rng&);
  bool mixed;  // both reachable and unreachable directions occur
};

Vec3 scaled(const Vec3& v, double k) {
  return {k * v.x, k * v.y, k * v.z};
}

// No hint, a hint anywhere, on a candidate, wrapped by a turn, far away (every distance
// infinite, so the first pair stays) or not a number (no distance replaces the first).
std::optional<JointPair> any_near(Rng& rng, const SphericalLinkGeometry& g, const Vec3& v3) {
  switch (rng() % 6) {
    case 0:
      return std::nullopt;
    case 1:
      return JointPair{uniform(rng, -4, 4), uniform(rng, -4, 4)};
    case 2: {
      const CandidateList candidates = unfused::enumerate_candidates(g, unit(v3));
      if (candidates.empty()) return std::nullopt;
      const arm::IkCandidate& c = candidates[rng() % candidates.size()];
      return JointPair{c.theta_a + (coin(rng) ? 2 * kPi : 0.0), c.theta_b};
    }
    case 3:
      return JointPair{coin(rng) ? 1e200 : -1e200, uniform(rng, -4, 4)};
    default:
      return coin(rng) ? JointPair{pick(rng, kSpecial), 0.0} : JointPair{0.3, pick(rng, kSpecial)};
  }
}

const DirectionClass kDirectionClasses[] = {
    {"reachable",
     [](Rng& rng) {
       const SphericalLinkGeometry g = any_geometry(rng);
       const Vec3 v3 = scaled(reachable(rng, g, 3 * kPi).v_3, log_uniform(rng, -3, 3));
       return DirectionCase{g, v3, any_near(rng, g, v3)};
     },
     true},
    // Around the shortest length that is normalised, and lengths whose square overflows.
    {"lengths",
     [](Rng& rng) {
       const SphericalLinkGeometry g = pick(rng, kArms);
       const Vec3 u = reachable(rng, g, kPi).v_3;
       const double lengths[] = {
           0.0,   5e-324, 1e-12,  std::nextafter(1e-12, 0.0), std::nextafter(1e-12, 1.0), 1e-300,
           1e155, 1e300,  1.7e308};
       const double k = rng() % 3 == 0 ? log_uniform(rng, -13, -11) : pick(rng, lengths);
       return DirectionCase{g, scaled(u, k), any_near(rng, g, u)};
     },
     true},
    {"near_joint_axes",
     [](Rng& rng) {
       const SphericalLinkGeometry g = varied_geometry(rng);
       const Vec3 v3 = near_axis(rng, -16, -2);
       return DirectionCase{g, v3, any_near(rng, g, v3)};
     },
     true},
    {"workspace_edge",
     [](Rng& rng) {
       const SphericalLinkGeometry g = varied_geometry(rng);
       const Vec3 v3 = workspace_edge(rng, g);
       return DirectionCase{g, v3, any_near(rng, g, v3)};
     },
     true},
    {"special_components",
     [](Rng& rng) {
       const SphericalLinkGeometry g = pick(rng, kArms);
       Vec3 v3 = reachable(rng, g, kPi).v_3;
       double* slots[] = {&v3.x, &v3.y, &v3.z};
       *slots[rng() % 3] = pick(rng, kSpecial);
       if (coin(rng)) *slots[rng() % 3] = pick(rng, kSpecial);
       return DirectionCase{g, v3, any_near(rng, g, v3)};
     },
     false},
};

class FusedDirection : public ::testing::TestWithParam<DirectionClass> {};

TEST_P(FusedDirection, MatchesTheUnfusedArithmeticBitForBit) {
  Rng rng = seeded(GetParam().name);
  int mismatches = 0;
  int solved = 0;
  for (int i = 0; i < kCasesPerClass && mismatches < kReported; ++i) {
    const DirectionCase c = GetParam().make(rng);
    const std::optional<JointPair> expected =
        unfused::inverse_kinematics_from_direction(c.geometry, c.v3, c.near);
    solved += expected.has_value();
    if (!same_bits(expected, arm::inverse_kinematics_from_direction(c.geometry, c.v3, c.near))) {
      ++mismatches;
      ADD_FAILURE() << "case " << i << ": " << text(c.geometry) << ", v3 " << text(c.v3)
                    << ", near " << text(c.near);
    }
  }
  if (GetParam().mixed) {
    EXPECT_GT(solved, kCasesPerClass / 100);
    EXPECT_LT(solved, kCasesPerClass - kCasesPerClass / 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, FusedDirection, ::testing::ValuesIn(kDirectionClasses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
