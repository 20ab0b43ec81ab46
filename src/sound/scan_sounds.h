#pragma once

#include <functional>

// What the operator hears after a scan: a count stored, a scan taken without
// storing, a scan not taken.
enum class ScanSound { Stored, Accepted, Refused };

// Where the main window sends its sounds: the program's tone player, nothing
// with --mute, or a test's recorder.
using SoundOutput = std::function<void(ScanSound)>;

class QThread;
class ToneOutput;

// Plays the sounds as short tones through the desktop's sound server. The sound
// server is spoken to from a thread of the player's own, so a scan never waits
// for it, nor the program's end more than exitWaitMs; without a server, a device
// or a thread the player stays silent. A tone cuts the one still playing short.
class TonePlayer {
public:
    static constexpr int exitWaitMs = 250;

    TonePlayer();
    ~TonePlayer();
    TonePlayer(const TonePlayer &) = delete;
    TonePlayer &operator=(const TonePlayer &) = delete;

    // Returns at once; the tone follows on the player's thread.
    void play(ScanSound sound);

private:
    QThread *m_thread;
    ToneOutput *m_output = nullptr; // none without a thread
};
