// The bind pose of our skinned rider models: joint positions of the nine bones (model frame).
#pragma once

// Standing T-pose, feet at y = -3.029, hip centre at the origin, arms along x, facing -z. The
// bone order is that of the rider pose: forearms, upper arms, shins, thighs (left, right each),
// then the torso; each joint is where its bone turns (elbow, shoulder, knee, hip, hip centre).
constexpr int rider_bone_count = 9;
constexpr float rider_bind_joints[rider_bone_count][3] = {
    {-1.456f, 1.755f, 0}, {1.456f, 1.755f, 0},  // left, right elbow
    {-0.556f, 1.755f, 0}, {0.556f, 1.755f, 0},  // left, right shoulder
    {-0.269f, -1.328f, 0}, {0.269f, -1.328f, 0},  // left, right knee
    {-0.269f, 0, 0}, {0.269f, 0, 0},            // left, right hip
    {0, 0, 0},                                  // hip centre
};
constexpr float rider_bind_hands[2][3] = {{-2.606f, 1.755f, 0}, {2.606f, 1.755f, 0}};
constexpr float rider_bind_feet[2][3] = {{-0.269f, -3.029f, 0}, {0.269f, -3.029f, 0}};
