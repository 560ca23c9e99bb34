// Cost of the kinematics core without the interpreter, with Google Benchmark. Run through
// `make bench`, which writes the JSON report that bench/bench_calls.py reads to hold each
// Python method against the routine it calls.
//
// Every input passes through benchmark::DoNotOptimize first, so that the compiler cannot fold
// a call into a constant, and every result is kept the same way.
#include <benchmark/benchmark.h>

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry_json.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>
#include <vornalt_torso_kinematics/neck/neck.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

constexpr double kThetaA = 0.3;
constexpr double kThetaB = -0.4;

// A value the optimiser has to treat as unknown: a copy in memory that an empty asm statement
// may have changed. (benchmark::DoNotOptimize lets GCC pick a general register for a double,
// which handed sincos garbage.)
template <typename T>
T opaque(const T& value) {
  T copy = value;
  asm volatile("" : "+m"(copy));
  return copy;
}

arm::FkSolution reference_solution() {
  return std::get<arm::FkSolution>(arm::forward_kinematics(arm::kDefaultLeft, kThetaA, kThetaB));
}

void BM_forward_kinematics(benchmark::State& state) {
  const arm::SphericalLinkGeometry geometry = arm::kDefaultLeft;
  for (auto _ : state) {
    auto result = arm::forward_kinematics(geometry, opaque(kThetaA), opaque(kThetaB));
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_forward_kinematics);

// What forward kinematics cannot do without: the libm calls of one run (three sine-cosine
// pairs, one cosine for both radii of the coupler circles, four square roots) on the same
// arguments, and nothing else.
void BM_forward_kinematics_libm_floor(benchmark::State& state) {
  const arm::SphericalLinkGeometry geometry = arm::kDefaultLeft;
  for (auto _ : state) {
    double s[3];
    double c[3];
    ::sincos(opaque(geometry.arm_arc), &s[0], &c[0]);
    ::sincos(opaque(kThetaA), &s[1], &c[1]);
    ::sincos(opaque(kThetaB), &s[2], &c[2]);
    double coupler = std::cos(opaque(geometry.coupler_arc));
    double root_0 = std::sqrt(opaque(0.9));
    double root_1 = std::sqrt(opaque(0.4));
    double root_2 = std::sqrt(opaque(3.6));
    double root_3 = std::sqrt(opaque(0.2));
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(c);
    benchmark::DoNotOptimize(coupler);
    benchmark::DoNotOptimize(root_0);
    benchmark::DoNotOptimize(root_1);
    benchmark::DoNotOptimize(root_2);
    benchmark::DoNotOptimize(root_3);
  }
}
BENCHMARK(BM_forward_kinematics_libm_floor);

void BM_loop_closes(benchmark::State& state) {
  const arm::SphericalLinkGeometry geometry = arm::kDefaultLeft;
  for (auto _ : state) {
    bool closes = arm::loop_closes(geometry, opaque(kThetaA), opaque(kThetaB));
    benchmark::DoNotOptimize(closes);
  }
}
BENCHMARK(BM_loop_closes);

// The arguments of the libm calls that inverse kinematics makes for the pointing direction of
// (kThetaA, kThetaB): the arcs, the atan2 arguments of the four tips, and the four angles.
struct InverseArguments {
  double atan2_y[4];
  double atan2_x[4];
  double theta[4];
};

InverseArguments inverse_arguments() {
  const arm::SphericalLinkGeometry g = arm::kDefaultLeft;
  const double sin_a = std::sin(g.arm_arc);
  const core::Vec3 v3 = reference_solution().v_3;
  InverseArguments args{};
  for (int k = 0; k < 2; ++k) {
    const double sign = k == 0 ? 1.0 : -1.0;
    const core::Vec3 v_2 =
        *arm::intersect_small_circles({0, 0, 1}, v3, g.arm_arc, g.coupler_arc, sign);
    const core::Vec3 v_4 =
        *arm::intersect_small_circles({1, 0, 0}, v3, g.arm_arc, g.coupler_arc, sign);
    args.atan2_y[k] = sin_a * v_2.y;
    args.atan2_x[k] = sin_a * v_2.x;
    args.atan2_y[2 + k] = -sin_a * v_4.y;
    args.atan2_x[2 + k] = sin_a * v_4.z;
  }
  for (int k = 0; k < 4; ++k) args.theta[k] = std::atan2(args.atan2_y[k], args.atan2_x[k]);
  return args;
}

// What each inverse solver cannot do without: its eleven libm calls (sine-cosine pairs of the
// arm arc and of the four candidate angles, cosines of both arcs, four atan2) on the same
// arguments, and nothing else.
void BM_inverse_kinematics_libm_floor(benchmark::State& state) {
  const arm::SphericalLinkGeometry geometry = arm::kDefaultLeft;
  const InverseArguments args = inverse_arguments();
  for (auto _ : state) {
    double s[5];
    double c[5];
    double angle[4];
    ::sincos(opaque(geometry.arm_arc), &s[0], &c[0]);
    double cos_arm = std::cos(opaque(geometry.arm_arc));
    double cos_coupler = std::cos(opaque(geometry.coupler_arc));
    for (int k = 0; k < 4; ++k) {
      angle[k] = std::atan2(opaque(args.atan2_y[k]), opaque(args.atan2_x[k]));
      ::sincos(opaque(args.theta[k]), &s[1 + k], &c[1 + k]);
    }
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(c);
    benchmark::DoNotOptimize(angle);
    benchmark::DoNotOptimize(cos_arm);
    benchmark::DoNotOptimize(cos_coupler);
  }
}
BENCHMARK(BM_inverse_kinematics_libm_floor);

void BM_enumerate_candidates(benchmark::State& state) {
  const arm::FkSolution solution = reference_solution();
  for (auto _ : state) {
    auto candidates = arm::enumerate_candidates(arm::kDefaultLeft, opaque(solution.v_3));
    benchmark::DoNotOptimize(candidates);
  }
}
BENCHMARK(BM_enumerate_candidates);

void BM_inverse_kinematics(benchmark::State& state) {
  const arm::FkSolution solution = reference_solution();
  for (auto _ : state) {
    auto pair = arm::inverse_kinematics(arm::kDefaultLeft, opaque(solution.rotation));
    benchmark::DoNotOptimize(pair);
  }
}
BENCHMARK(BM_inverse_kinematics);

void BM_inverse_kinematics_from_direction(benchmark::State& state) {
  const arm::FkSolution solution = reference_solution();
  const std::optional<arm::JointPair> none;
  for (auto _ : state) {
    auto pair =
        arm::inverse_kinematics_from_direction(arm::kDefaultLeft, opaque(solution.v_3), none);
    benchmark::DoNotOptimize(pair);
  }
}
BENCHMARK(BM_inverse_kinematics_from_direction);

void BM_inverse_kinematics_from_direction_near(benchmark::State& state) {
  const arm::FkSolution solution = reference_solution();
  const std::optional<arm::JointPair> near = arm::JointPair{0.3, -1.2};
  for (auto _ : state) {
    auto pair = arm::inverse_kinematics_from_direction(arm::kDefaultLeft, opaque(solution.v_3),
                                                       opaque(near));
    benchmark::DoNotOptimize(pair);
  }
}
BENCHMARK(BM_inverse_kinematics_from_direction_near);

void BM_neck_fk(benchmark::State& state) {
  for (auto _ : state) {
    auto r = neck::fk({opaque(0.3), opaque(-0.2), opaque(0.1)});
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_neck_fk);

void BM_neck_ik(benchmark::State& state) {
  const core::Mat3 head = neck::fk({0.3, -0.2, 0.1});
  for (auto _ : state) {
    auto joints = neck::ik(opaque(head));
    benchmark::DoNotOptimize(joints);
  }
}
BENCHMARK(BM_neck_ik);

// Decodes `text` repeatedly; the throughput counts its bytes.
void decode_repeatedly(benchmark::State& state, std::string_view text) {
  if (!std::holds_alternative<arm::SphericalLinkGeometry>(arm::decode_geometry(text))) {
    state.SkipWithError("the benchmark record does not decode");
    return;
  }
  for (auto _ : state) {
    auto decoded = arm::decode_geometry(opaque(text));
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// The record of a typical arms.json entry.
void BM_decode_geometry(benchmark::State& state) {
  decode_repeatedly(
      state, R"({"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative", "mirror": true})");
}
BENCHMARK(BM_decode_geometry);

// A record of about 64 KiB, nearly all of it members the decoder skips: numbers, strings
// with escapes, nested arrays and objects, literals.
std::string long_record() {
  std::string text = "{\"arm_arc\": 0.7,\n";
  for (int i = 0; text.size() < 64 * 1024; ++i) {
    const std::string n = std::to_string(i);
    text += "  \"calibration_" + n + "\": {\"offset\": -1.25e-3, \"gain\": 1.0001, \"id\": " + n +
            ", \"label\": \"joint \\\"" + n + "\\\" \\u00e9t\\u00e9\", \"samples\": [0.1, " +
            "-2, 3e10, true, false, null, [1, 2, {\"deep\": []}]]},\n";
  }
  text += "  \"coupler_arc\": 0.5, \"branch\": {\"positive\": null}, \"mirror\": false}\n";
  return text;
}

void BM_decode_geometry_long_record(benchmark::State& state) {
  static const std::string text = long_record();
  decode_repeatedly(state, text);
}
BENCHMARK(BM_decode_geometry_long_record);

}  // namespace

BENCHMARK_MAIN();
