// Docstring texts of both classes. The method tables prepend each method's text signature;
// the type-stub registrations use the bodies as they stand.
#pragma once

#define TORSO_MODULE_NAME "vornalt_torso_kinematics"
#define TORSO_ARM_CLASS "VornaltArmKinematics"
#define TORSO_NECK_CLASS "VornaltNeckKinematics"

// Separates a text signature from the description in a docstring.
#define TORSO_SIGNATURE_END "\n--\n\n"

#define TORSO_ARM_NEW_SIGNATURE "(arm_arc=0.7, coupler_arc=0.5, mirror=False)"
#define TORSO_NECK_NEW_SIGNATURE "()"

#define TORSO_DOC_ARM_NEW                                            \
  "Create an arm with explicit geometry parameters.\n\n"             \
  "- `arm_arc`: arc length (radians) of each input arm.\n"           \
  "- `coupler_arc`: arc length (radians) of each coupler segment.\n" \
  "- `mirror`: when true, mirror the arm across the YZ plane (right arm)."
#define TORSO_DOC_DEFAULT_LEFT "Build the default left-arm geometry."
#define TORSO_DOC_DEFAULT_RIGHT "Build the default right-arm geometry (mirror of left)."
#define TORSO_DOC_FROM_JSON "Build the arm from a JSON string matching `SphericalLinkGeometry`."
#define TORSO_DOC_ARM_FK                                                        \
  "Forward kinematics: `(θ_A, θ_B)` → 3×3 rotation of the end-effector.\n" \
  "Raises `RuntimeError` when the loop fails to close (target joint\n"          \
  "pair is outside the workspace)."
#define TORSO_DOC_ARM_IK                                    \
  "Inverse kinematics: 3×3 rotation → `(θ_A, θ_B)`.\n" \
  "Raises `RuntimeError` when the target orientation isn't reachable."
#define TORSO_DOC_IK_FROM_DIRECTION                                      \
  "Inverse kinematics from just the end-effector pointing direction\n"   \
  "(3-vector, automatically normalized). When multiple `(θ_A, θ_B)`\n" \
  "branches reach the same direction, `near` (an optional current\n"     \
  "joint pair) picks the closest one; otherwise the smallest-norm\n"     \
  "solution wins."
#define TORSO_DOC_DIRECTION                                          \
  "Forward kinematics that returns just the end-effector pointing\n" \
  "direction (the third column of the FK rotation, equal to `v_3`)."
#define TORSO_DOC_IS_REACHABLE_JOINTS \
  "Whether `(θ_A, θ_B)` lands inside the workspace (loop closes)."
#define TORSO_DOC_IS_REACHABLE_ORIENTATION \
  "Whether `r_target` is on the reachable manifold (IK succeeds)."
#define TORSO_DOC_IS_REACHABLE_DIRECTION                              \
  "Whether the pointing direction `v3` (3-vector, auto-normalized)\n" \
  "is on the reachable manifold."
#define TORSO_DOC_ACCESSOR ""

#define TORSO_DOC_NECK_FK                                           \
  "Forward kinematics. `joints = [yaw, pitch, roll]` in radians.\n" \
  "Returns the 3×3 rotation matrix of the head frame in the body frame."
#define TORSO_DOC_NECK_IK                                                 \
  "Inverse kinematics. `r` is a 3×3 rotation matrix (row-major).\n"      \
  "Returns `(yaw, pitch, roll)` in radians.\n\n"                          \
  "Raises `ValueError` near gimbal lock (|pitch| ≈ π/2). The neck's\n" \
  "pitch range is well under that limit in practice."
