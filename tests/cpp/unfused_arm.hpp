// The arm core as it was before its calls of the maths library were shared between the steps:
// every intersection takes the cosines of both radii, every candidate runs the whole forward
// kinematics. Kept in the test tree only, as the arithmetic that the shipped routines must
// reproduce bit for bit.
#pragma once

#include <optional>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>
#include <vornalt_torso_kinematics/core/types.hpp>

namespace vornalt_torso_kinematics::unfused {

using arm::CandidateList;
using arm::FkResult;
using arm::SphericalLinkGeometry;
using core::JointPair;
using core::Mat3;
using core::Vec3;

FkResult forward_kinematics(const SphericalLinkGeometry& geometry, double theta_a, double theta_b);

std::optional<Vec3> intersect_small_circles(const Vec3& center_a, const Vec3& center_b,
                                            double radius_a, double radius_b, double sign);

CandidateList enumerate_candidates(const SphericalLinkGeometry& geometry, const Vec3& v3);

std::optional<JointPair> inverse_kinematics(const SphericalLinkGeometry& geometry,
                                            const Mat3& r_target);

std::optional<JointPair> inverse_kinematics_from_direction(const SphericalLinkGeometry& geometry,
                                                           const Vec3& v3,
                                                           const std::optional<JointPair>& near);

}  // namespace vornalt_torso_kinematics::unfused
