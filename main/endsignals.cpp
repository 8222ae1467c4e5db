// TERM, HUP and INT, through a pipe to the window's thread.
#include "main/endsignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "main/tform1.h"

namespace tessarin {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};

// The pipe's end the handler writes to: a handler reaches nothing but what is global.
std::atomic<int> signalpipe{-1};

void onsignal(int signal) {
    const int saved = errno;
    const auto number = static_cast<char>(signal);
    // A full pipe has a number to read already.
    (void)!::write(signalpipe.load(), &number, 1);
    errno = saved;
}

}  // namespace

EndSignals::EndSignals(TForm1* window) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // the signals keep their default action
    }
    readend_ = binio::Handle(ends[0]);
    writeend_ = binio::Handle(ends[1]);
    notifier_ = std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this, window] { act(window); });
    signalpipe = ends[1];
    struct sigaction action {};
    action.sa_handler = onsignal;
    sigemptyset(&action.sa_mask);
    // A read or write that the signal meets on the worker's thread goes on waiting.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &earlier_[i]);
        if (earlier_[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
}

EndSignals::~EndSignals() {
    if (!notifier_) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &earlier_[i], nullptr);
    }
    signalpipe = -1;
}

void EndSignals::act(TForm1* window) {
    char number = 0;
    while (::read(readend_.get(), &number, 1) == 1) {
        if (number == SIGTERM) {
            window->close();
            continue;
        }
        // The process that outlives this one is made first: it copies the program as it is, and
        // the removal below may wait holding what it needs.
        window->removeafterend();
        window->removeunsaved();
        ::signal(number, SIG_DFL);
        ::raise(number);
    }
}

}  // namespace tessarin
