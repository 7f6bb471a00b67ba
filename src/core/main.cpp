// The game's entry point: the program with its SDL window, GL and input.
#include "core/frontend.h"
#include "core/game.h"
#include "platform/input_sdl.h"
#include "platform/window.h"

namespace {

bool install_sdl(Frontend* f) {
  velk_input_sdl_install();
  return frontend_sdl_install(f);
}

}  // namespace

int main(int argc, char** argv) { return game_main(argc, argv, install_sdl); }
