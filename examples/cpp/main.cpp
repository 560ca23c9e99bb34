// The kinematics core from C++: forward kinematics of the default left arm and back, one
// pointing direction and the joint pairs that reach it, a neck round trip and gimbal lock,
// and an arm decoded from an arms.json record. Prints what it finds and exits with status 1
// when a result is not what the library promises.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <variant>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry_json.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>
#include <vornalt_torso_kinematics/neck/neck.hpp>

namespace vtk = vornalt_torso_kinematics;

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) {
    ++failures;
  }
}

bool near_value(double a, double b, double tolerance) {
  return std::fabs(a - b) <= tolerance;
}

void arm_round_trip() {
  const vtk::arm::SphericalLinkGeometry& left = vtk::arm::kDefaultLeft;
  vtk::arm::FkResult fk = vtk::arm::forward_kinematics(left, 0.3, -0.2);
  const auto* solution = std::get_if<vtk::arm::FkSolution>(&fk);
  check(solution != nullptr, "the loop of the left arm closes at (0.3, -0.2)");
  if (solution == nullptr) {
    return;
  }
  const vtk::core::Vec3& d = solution->v_3;
  std::printf("     pointing direction (%.6f, %.6f, %.6f)\n", d.x, d.y, d.z);
  check(near_value(d.x, 0.662696, 1e-6) && near_value(d.y, 0.584017, 1e-6) &&
            near_value(d.z, 0.468783, 1e-6),
        "it points along (0.662696, 0.584017, 0.468783)");

  std::optional<vtk::core::JointPair> back = vtk::arm::inverse_kinematics(left, solution->rotation);
  check(back.has_value() && near_value(back->theta_a, 0.3, 1e-12) &&
            near_value(back->theta_b, -0.2, 1e-12),
        "inverse kinematics of that rotation gives (0.3, -0.2) back");

  // The same direction is reached by several joint pairs, each with its own roll about it.
  vtk::arm::CandidateList candidates = vtk::arm::enumerate_candidates(left, d);
  int reaching = 0;
  for (const vtk::arm::IkCandidate& candidate : candidates) {
    const vtk::core::Vec3& v = candidate.solution.v_3;
    if (std::hypot(v.x - d.x, v.y - d.y, v.z - d.z) < vtk::arm::kCandidateTolerance) {
      std::printf("     (%+.6f, %+.6f) reaches it\n", candidate.theta_a, candidate.theta_b);
      ++reaching;
    }
  }
  check(reaching == 3, "three of the four candidate pairs reach that direction");
  std::optional<vtk::core::JointPair> nearest =
      vtk::arm::inverse_kinematics_from_direction(left, d, vtk::core::JointPair{0.25, -0.25});
  check(nearest.has_value() && near_value(nearest->theta_a, 0.3, 1e-12) &&
            near_value(nearest->theta_b, -0.2, 1e-12),
        "the pair nearest to (0.25, -0.25) is (0.3, -0.2)");

  check(
      std::holds_alternative<vtk::arm::LoopNotClosed>(vtk::arm::forward_kinematics(left, 1.0, 1.0)),
      "at (1, 1) the tips are too far apart for the coupler");
}

void neck_round_trip() {
  const vtk::core::Mat3 head = vtk::neck::fk({0.4, -0.25, 0.1});
  vtk::neck::IkResult back = vtk::neck::ik(head);
  const auto* joints = std::get_if<vtk::neck::JointTriple>(&back);
  check(joints != nullptr && near_value(joints->yaw, 0.4, 1e-12) &&
            near_value(joints->pitch, -0.25, 1e-12) && near_value(joints->roll, 0.1, 1e-12),
        "the neck reads (0.4, -0.25, 0.1) back from its own pose");
  check(std::holds_alternative<vtk::neck::GimbalLock>(
            vtk::neck::ik(vtk::neck::fk({0.0, std::numbers::pi / 2 - 0.0014, 0.0}))),
        "a pitch 0.0014 rad short of a right angle is gimbal lock");
}

void geometry_record() {
  vtk::arm::DecodeResult decoded =
      vtk::arm::decode_geometry(R"({"arm_arc": 0.7, "coupler_arc": 0.5, "mirror": true})");
  const auto* geometry = std::get_if<vtk::arm::SphericalLinkGeometry>(&decoded);
  check(geometry != nullptr && geometry->arm_arc == 0.7 && geometry->coupler_arc == 0.5 &&
            geometry->mirror && geometry->branch == vtk::arm::Branch::positive,
        "the record of the right arm decodes");

  vtk::arm::DecodeResult broken = vtk::arm::decode_geometry(R"({"arm_arc": 0.7})");
  const auto* error = std::get_if<vtk::arm::DecodeError>(&broken);
  check(error != nullptr && error->message == "missing field `coupler_arc` at line 1 column 16",
        "a record without coupler_arc says so, with its position");
}

}  // namespace

int main() {
  arm_round_trip();
  neck_round_trip();
  geometry_record();
  if (failures != 0) {
    std::printf("%d check(s) failed\n", failures);
    return 1;
  }
  std::printf("all checks passed\n");
  return 0;
}
