// Nanoseconds per call of the kinematics core, without the interpreter: the floor under every
// Python call. Run through `make bench`.
#include <chrono>
#include <cstdio>
#include <string_view>
#include <variant>

#include "arm/fk.hpp"
#include "arm/geometry.hpp"
#include "arm/ik.hpp"
#include "neck/neck.hpp"

namespace {

// Keeps the optimiser from discarding a result.
template <typename T>
void keep(const T& value) {
  asm volatile("" : : "r"(&value) : "memory");
}

// Best of several timed batches, in nanoseconds per call.
template <typename Call>
double per_call_ns(Call&& call, int batch) {
  double best = 1e300;
  for (int repeat = 0; repeat < 7; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) call(i);
    const auto stop = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(stop - start).count() / batch;
    if (ns < best) best = ns;
  }
  return best;
}

void report(const char* name, double ns) {
  std::printf("%-44s%10.1f\n", name, ns);
}

}  // namespace

int main() {
  const arm::SphericalLinkGeometry left = arm::kDefaultLeft;
  const arm::FkSolution solution =
      std::get<arm::FkSolution>(arm::forward_kinematics(left, 0.3, -0.4));
  const std::optional<arm::JointPair> near = arm::JointPair{0.3, -1.2};
  const core::Mat3 head = neck::fk({0.3, -0.2, 0.1});
  constexpr std::string_view record =
      R"({"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative", "mirror": true})";
  constexpr int kBatch = 200'000;

  std::printf("%-44s%10s\n", "kinematics core", "ns/call");
  report("arm::forward_kinematics",
         per_call_ns([&](int i) { keep(arm::forward_kinematics(left, 0.3 + i * 1e-9, -0.4)); },
                     kBatch));
  report("arm::enumerate_candidates",
         per_call_ns([&](int) { keep(arm::enumerate_candidates(left, solution.v_3)); }, kBatch));
  report("arm::inverse_kinematics",
         per_call_ns([&](int) { keep(arm::inverse_kinematics(left, solution.rotation)); }, kBatch));
  report("arm::inverse_kinematics_from_direction",
         per_call_ns(
             [&](int) { keep(arm::inverse_kinematics_from_direction(left, solution.v_3, near)); },
             kBatch));
  report("arm::decode_geometry",
         per_call_ns([&](int) { keep(arm::decode_geometry(record)); }, kBatch));
  report("neck::fk", per_call_ns(
                         [&](int i) {
                           keep(neck::fk({0.3 + i * 1e-9, -0.2, 0.1}));
                         },
                         kBatch));
  report("neck::ik", per_call_ns([&](int) { keep(neck::ik(head)); }, kBatch));
  return 0;
}
