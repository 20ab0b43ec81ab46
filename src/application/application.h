#pragma once

#include "sound/scan_sounds.h"

#include <memory>

class QApplication;

// Opens the null device on whichever of standard input, output and error is
// closed, so that no file the program opens takes its number: an error line
// would otherwise go into that file, or into the window system's connection.
// Writes to a stream that was closed still fail. The program's first step.
void openClosedStandardStreams();

// Makes the QApplication on the desktop's window system. Where none can be
// opened (no display), the program says so in one line on standard error and
// ends with status 1, where Qt would abort with a page of text.
std::unique_ptr<QApplication> openApplication(int &argc, char **argv);

// Gives the application its name, which Qt names the user's folders after on
// Windows; may be done before the application is made.
void nameApplication();

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
