#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "app/batch/picture_memory.h"
#include "app/batch/run_driver.h"
#include "app/cli/cli.h"

namespace {

vellumar::batch::CancelFlag gCancel;
volatile sig_atomic_t gSignal = 0;

void OnSignal(int sig) {
    gSignal = sig;
    gCancel.Request();
}

// SIGINT, SIGTERM and SIGHUP end the run the way a cancel does: rows in
// progress leave no file. A second signal ends the program at once.
void CancelOnSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored from the start (a background job's SIGINT) stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    vellumar::batch::KeepFreedPictureMemory();
    CancelOnSignals();
    const int status =
        vellumar::cli::Run(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, &gCancel);
    if (const int sig = gSignal) {
        // Ended by the signal, as shells expect (status 128 + its number).
        std::cout.flush();
        signal(sig, SIG_DFL);
        raise(sig);
        return 128 + sig;
    }
    return status;
}
