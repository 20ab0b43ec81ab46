#pragma once

// A windowed program on Windows starts without standard output and error, so
// --help, --version and the error line would reach no one. Where it was started
// from a console (cmd, PowerShell) they go to that console; output sent to a file
// or a pipe stays there.
void attachParentConsole();
