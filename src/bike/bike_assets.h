// The Rider's graphics assets and collision shapes, and the model-variant naming rule.
#pragma once
#include <cstddef>
#include <cstdint>

#include "bike/rider.h"

// What the front end adds to the assets: the number plate (drawn by text rendering, which
// the simulation does not have) and whether shader programs want normal and specular maps.
// Without it (headless, tests) no plate is made and no maps are looked for.
struct BikeAssetLoader {
  // The 128 x 128 plate texture; 0 when it cannot be made.
  TextureId (*number_plate)(const char* text, const uint8_t background[3],
                            const uint8_t foreground[3]);
  void (*number_plate_delete)(TextureId id);    // also takes it off the texture memory count
  bool shaders;
};

void bike_set_asset_loader(const BikeAssetLoader* loader);  // null: none

// The variant of a model path selected by a chosen texture name ("@a_frame.vm" with
// ".../crf-red-1.png" gives "@a_frame-red.vm"); false when the rule does not apply.
bool model_variant_name(const char* model_path, const char* texture_name, char* out,
                        size_t size);
// Plate colours from "[numberbackground:r,g,b]" and "[numberforeground:r,g,b]" tags in a
// texture name; by default a white background with black digits.
void plate_colours(const char* texture_name, uint8_t background[3], uint8_t foreground[3]);

void bike_load_assets(Rider* rider, const char* rider_number, const char* rider_texture,
                      const char* head_texture, const char* bike_texture,
                      const char* wheel_texture);
void bike_free_assets(Rider* rider);
