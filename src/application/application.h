#pragma once

#include "scan_sounds.h"

#include <memory>

// Sets up the running QApplication as the program needs it before its first
// window: its name, the look every window shares, and the interfaces that
// assistive technology reads for the program's own widgets. main(), the
// benchmarks and the tests all start this way.
void setUpApplication();

// The program's sound player, made on the sound server unless the operator
// asked for silence.
std::unique_ptr<TonePlayer> makeTonePlayer(bool mute);

// Where the main window's sounds go: to the player, or nowhere without one.
SoundOutput soundsOf(TonePlayer *player);
