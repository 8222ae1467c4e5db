// The signals that ask the program to end, on POSIX systems: TERM closes the window as its close
// button does; HUP and INT end the program at once, as they do by default, but not before the
// files of unfinished saves are removed. A handler only writes the signal's number to a pipe,
// which the window's thread reads and acts on.
#pragma once

#include <signal.h>

#include <array>
#include <memory>

#include "binio/fileio.h"

class QSocketNotifier;

namespace tessarin {

class TForm1;

class EndSignals {
public:
    // Handles the signals for `window` while it lives; a signal that the program was started
    // with ignored (HUP under nohup) stays ignored.
    explicit EndSignals(TForm1* window);
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;
    // Gives the signals back their earlier handling.
    ~EndSignals();

private:
    void act(TForm1* window);

    binio::Handle readend_;
    binio::Handle writeend_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, 3> earlier_{};
};

}  // namespace tessarin
