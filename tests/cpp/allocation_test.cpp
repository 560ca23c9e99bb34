// The core's paths allocate nothing on the heap: a replaced global operator new counts every
// allocation made while a counting scope is open.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry_json.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>
#include <vornalt_torso_kinematics/neck/neck.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

// What the counting scope saw; only the test thread allocates while it is open.
struct Tally {
  bool counting = false;
  bool refusing = false;  // every allocation fails, as when memory has run out
  std::size_t allocations = 0;
  std::size_t largest = 0;
};
Tally tally;

void* allocate(std::size_t size) {
  if (tally.refusing) throw std::bad_alloc();
  if (tally.counting) {
    ++tally.allocations;
    if (size > tally.largest) tally.largest = size;
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
  if (tally.counting) {
    ++tally.allocations;
    if (size > tally.largest) tally.largest = size;
  }
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  if (void* memory = std::aligned_alloc(align, rounded == 0 ? align : rounded)) return memory;
  throw std::bad_alloc();
}

// Counts the allocations of `body`.
template <typename Body>
Tally count_allocations(Body&& body) {
  tally = Tally{};
  tally.counting = true;
  body();
  tally.counting = false;
  return tally;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

arm::SphericalLinkGeometry geometry_of(double arm_arc, double coupler_arc, arm::Branch branch,
                                       bool mirror) {
  return {arm_arc, coupler_arc, branch, mirror};
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate_aligned(size, alignment);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  std::free(memory);
}

namespace {

// The counter itself sees an allocation, so that a zero below means something.
TEST(AllocationCounter, SeesAnAllocationInsideTheScope) {
  double* volatile value = nullptr;
  const Tally seen = count_allocations([&] { value = new double(1.0); });
  delete value;
  EXPECT_EQ(seen.allocations, 1u);
  EXPECT_EQ(seen.largest, sizeof(double));
}

struct JointCase {
  arm::SphericalLinkGeometry geometry;
  double theta_a;
  double theta_b;
};

class ForwardKinematicsAllocation : public ::testing::TestWithParam<JointCase> {};

// Solutions, loops that do not close, the stretched fallback and not-a-number angles alike.
TEST_P(ForwardKinematicsAllocation, AllocatesNothing) {
  const JointCase c = GetParam();
  std::optional<arm::FkResult> result;
  const Tally seen = count_allocations(
      [&] { result = arm::forward_kinematics(c.geometry, c.theta_a, c.theta_b); });
  EXPECT_EQ(seen.allocations, 0u);
  EXPECT_TRUE(result.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ForwardKinematicsAllocation,
    ::testing::Values(JointCase{arm::kDefaultLeft, 0.3, -0.4},
                      JointCase{arm::kDefaultRight, 0.3, -0.2},
                      JointCase{arm::kDefaultLeft, 0.0, 0.0},
                      JointCase{arm::kDefaultLeft, 1.0, 1.0},
                      JointCase{geometry_of(0.7, 0.5, arm::Branch::negative, false), 0.3, -0.4},
                      JointCase{geometry_of(0.7, 0.0854, arm::Branch::positive, false), 0.0, 0.0},
                      JointCase{geometry_of(M_PI / 4, 0.5, arm::Branch::positive, false), 0.0, 0.0},
                      JointCase{arm::kDefaultLeft, kNaN, 0.0}));

TEST(ForwardKinematicsAllocation, SmallCircleIntersectionAllocatesNothing) {
  std::optional<core::Vec3> meeting;
  std::optional<core::Vec3> apart;
  const Tally seen = count_allocations([&] {
    meeting = arm::intersect_small_circles({0, 0, 1}, {1, 0, 0}, 1.0, 1.0, 1.0);
    apart = arm::intersect_small_circles({0, 0, 1}, {1, 0, 0}, 0.5, 0.5, 1.0);
  });
  EXPECT_EQ(seen.allocations, 0u);
  EXPECT_TRUE(meeting.has_value());
  EXPECT_FALSE(apart.has_value());
}

class NeckAllocation : public ::testing::TestWithParam<neck::JointTriple> {};

// Both directions, gimbal lock and not-a-number angles included.
TEST_P(NeckAllocation, FkAndIkAllocateNothing) {
  const neck::JointTriple joints = GetParam();
  std::optional<neck::IkResult> back;
  const Tally seen = count_allocations([&] { back = neck::ik(neck::fk(joints)); });
  EXPECT_EQ(seen.allocations, 0u);
  EXPECT_TRUE(back.has_value());
}

INSTANTIATE_TEST_SUITE_P(Paths, NeckAllocation,
                         ::testing::Values(neck::JointTriple{0.3, -0.2, 0.1},
                                           neck::JointTriple{0.0, 0.0, 0.0},
                                           neck::JointTriple{0.0, M_PI / 2, 0.0},
                                           neck::JointTriple{kNaN, kNaN, kNaN}));

// Inverse kinematics may hold one candidate list of four on the heap, and nothing else.
void expect_at_most_one_list_of_four(const Tally& seen) {
  EXPECT_LE(seen.allocations, 1u);
  EXPECT_LE(seen.largest,
            arm::CandidateList::kCapacity * sizeof(arm::IkCandidate) + sizeof(arm::CandidateList));
}

struct DirectionCase {
  arm::SphericalLinkGeometry geometry;
  core::Vec3 v3;
  std::optional<core::JointPair> near;
};

class InverseKinematicsAllocation : public ::testing::TestWithParam<DirectionCase> {};

// Reachable targets with and without a hint, unreachable ones, axes, zero and not-a-number.
TEST_P(InverseKinematicsAllocation, HoldsAtMostOneListOfFour) {
  const DirectionCase c = GetParam();
  const double length = std::sqrt(c.v3.x * c.v3.x + c.v3.y * c.v3.y + c.v3.z * c.v3.z);
  const core::Vec3 unit =
      length > 0 ? core::Vec3{c.v3.x / length, c.v3.y / length, c.v3.z / length} : c.v3;
  const auto fk = arm::forward_kinematics(c.geometry, 0.3, -0.4);
  const core::Mat3 rotation = std::get<arm::FkSolution>(fk).rotation;

  expect_at_most_one_list_of_four(count_allocations(
      [&] { (void)arm::inverse_kinematics_from_direction(c.geometry, c.v3, c.near); }));
  expect_at_most_one_list_of_four(
      count_allocations([&] { (void)arm::enumerate_candidates(c.geometry, unit); }));
  expect_at_most_one_list_of_four(
      count_allocations([&] { (void)arm::inverse_kinematics(c.geometry, rotation); }));
}

const core::Vec3 kReachable{0.456132, 0.636509, 0.621932};

INSTANTIATE_TEST_SUITE_P(
    Paths, InverseKinematicsAllocation,
    ::testing::Values(DirectionCase{arm::kDefaultLeft, kReachable, std::nullopt},
                      DirectionCase{arm::kDefaultLeft, kReachable, core::JointPair{0.3, -1.2}},
                      DirectionCase{
                          arm::kDefaultRight, {-0.456132, -0.636509, 0.621932}, std::nullopt},
                      DirectionCase{geometry_of(0.7, 0.5, arm::Branch::negative, false), kReachable,
                                    std::nullopt},
                      DirectionCase{arm::kDefaultLeft, {1, 1, 1}, core::JointPair{kNaN, 0.0}},
                      DirectionCase{arm::kDefaultLeft, {0, 1, 0}, std::nullopt},
                      DirectionCase{arm::kDefaultLeft, {0, 0, 1}, std::nullopt},
                      DirectionCase{arm::kDefaultLeft, {0, 0, 0}, std::nullopt},
                      DirectionCase{arm::kDefaultLeft, {kNaN, 0, 1}, std::nullopt}));

TEST(InverseKinematicsAllocation, UnreachableRotationsHoldAtMostOneListOfFour) {
  const core::Mat3 identity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  const core::Mat3 not_a_number{{{kNaN, 0, 0}, {0, kNaN, 0}, {0, 0, kNaN}}};
  for (const core::Mat3& r : {identity, not_a_number}) {
    std::optional<core::JointPair> pair = core::JointPair{0.0, 0.0};
    expect_at_most_one_list_of_four(
        count_allocations([&] { pair = arm::inverse_kinematics(arm::kDefaultLeft, r); }));
    EXPECT_FALSE(pair.has_value());
  }
}

// A valid record whose ignored value nests deeper than 64 levels needs memory for its nesting
// record; when there is none, the decoder says so rather than ending the process.
TEST(DecoderAllocation, ANestingRecordThatCannotGrowIsOutOfMemory) {
  const std::string levels(200, '[');
  const std::string record = R"({"arm_arc": 1, "coupler_arc": 0.5, "note": )" + levels +
                             std::string(levels.size(), ']') + "}";
  std::optional<arm::DecodeResult> decoded;
  tally.refusing = true;
  decoded = arm::decode_geometry(record);
  // A message quotes the text's strings, so it may be as long as the text: no room for it is
  // out of memory too, not the end of the process.
  const std::optional<arm::DecodeResult> invalid =
      arm::decode_geometry(R"({"arm_arc": "a string", "coupler_arc": 0.5})");
  tally.refusing = false;
  EXPECT_TRUE(std::holds_alternative<arm::DecodeOutOfMemory>(*decoded));
  EXPECT_TRUE(std::holds_alternative<arm::DecodeOutOfMemory>(*invalid));
  const Tally seen = count_allocations([&] { decoded = arm::decode_geometry(record); });
  EXPECT_GT(seen.allocations, 0u);
  EXPECT_TRUE(std::holds_alternative<arm::SphericalLinkGeometry>(*decoded));
}

}  // namespace
