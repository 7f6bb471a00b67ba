// Drawing models with GL: the lit main pass, the reflection pass, wireframes, display lists.
#pragma once
#include "resources/model.h"

// Call with the context current: display lists are made from now on (and for cached models).
void model_gl_install();
void model_gl_uninstall();

// The lighting keys "global_ambient" and "ambient" that a self-lit mesh overrides and restores
// (the track's lighting sets them; alpha is always 1).
void model_gl_set_light_keys(const float global_ambient[3], const float ambient[3]);

// Rotations are row-major 3 x 3 whose columns are the images of the x, y and z axes; the camera
// position is the world pass's, for the level-of-detail choice and the reflections.
void model_draw(Model* model, const float camera[3], const float position[3], const float rotation[9]);
void model_draw_skinned(Model* model, const float camera[3], const float position[3], const float rotation[9],
                        const float (*bind_joints)[3], const float (*joints)[3], const float (*rotations)[9],
                        int bone_count);
void model_draw_reflection(Model* model, const float camera[3], const float position[3], const float rotation[9]);
void model_draw_reflection_skinned(Model* model, const float camera[3], const float position[3],
                                   const float rotation[9], const float (*bind_joints)[3],
                                   const float (*joints)[3], const float (*rotations)[9], int bone_count);
// Every triangle of one mesh as a closed line through its three positions.
void model_draw_wireframe(const Model* mesh);
