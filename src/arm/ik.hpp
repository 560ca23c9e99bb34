// Inverse kinematics of a spherical 5-bar arm, closed form: from a target orientation, and
// from a pointing direction alone. Pure functions: no state, no exceptions, and no allocation
// (the candidate list has a fixed capacity of four).
#pragma once

#include <cstddef>
#include <optional>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry.hpp>
#include <vornalt_torso_kinematics/core/types.hpp>

namespace vornalt_torso_kinematics::arm {

// A candidate is accepted when its rotation (or pointing direction) lies strictly closer than
// this to the target.
inline constexpr double kCandidateTolerance = 1e-6;

// One candidate joint pair and the forward kinematics of the arm at that pair.
struct IkCandidate {
  double theta_a;  // radians, straight from atan2
  double theta_b;  // radians, straight from atan2
  FkSolution solution;
};

// The candidates for one pointing direction, in the order of the tip choices
// (+1, +1), (+1, -1), (-1, +1), (-1, -1); at most four, stored in place.
class CandidateList {
 public:
  static constexpr std::size_t kCapacity = 4;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const IkCandidate& operator[](std::size_t i) const { return items_[i]; }
  IkCandidate& operator[](std::size_t i) { return items_[i]; }
  const IkCandidate* begin() const { return items_; }
  const IkCandidate* end() const { return items_ + size_; }

  // Appends a candidate; the enumeration never makes more than kCapacity.
  void push_back(const IkCandidate& candidate) { items_[size_++] = candidate; }
  // Appends in place: the candidate is written into slot() and kept by commit(); a slot left
  // uncommitted is written over by the next one.
  IkCandidate& slot() { return items_[size_]; }
  void commit() { ++size_; }
  // Keeps only the first `count` candidates.
  void truncate(std::size_t count) { size_ = count; }

 private:
  IkCandidate items_[kCapacity];
  std::size_t size_ = 0;
};

// The joint pairs whose input-arm tips lie at arc coupler_arc from the unit direction v3,
// each with its forward kinematics; those where the loop does not close are left out.
CandidateList enumerate_candidates(const SphericalLinkGeometry& geometry, const Vec3& v3);

// The joint pair whose end-effector rotation is r_target (within kCandidateTolerance), or
// nothing when the orientation is not reachable.
std::optional<JointPair> inverse_kinematics(const SphericalLinkGeometry& geometry,
                                            const Mat3& r_target);

// A joint pair that points the end-effector along v3 (any length above 1e-12): the one
// nearest to `near` when given, else the one of smallest norm; nothing when unreachable.
std::optional<JointPair> inverse_kinematics_from_direction(const SphericalLinkGeometry& geometry,
                                                           const Vec3& v3,
                                                           const std::optional<JointPair>& near);

}  // namespace vornalt_torso_kinematics::arm
