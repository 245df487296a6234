// Opening a tty for this program alone, and letting go of it. Used by the device layer for the
// first open of a port and for reopening one that came back after a hang-up.
//
// Threads: the functions keep no state and may run on any thread; a Tty is shared by the calls
// that use its descriptor and closes it when the last of them lets go.
//
// Failure: OpenExclusive returns -1 with the reason in words ("<path>: in use by another
// program"), built by ReasonOf from the errno, which is the one mapping from errno to what the
// user is told; a device node the user may not open says which group it belongs to ("<path>:
// permission denied (add the user to the dialout group)").
#pragma once

#include <string>

// What an errno means to the user: "no such device", "permission denied", "in use by another
// program", "not a serial device", else the system's text.
std::string ReasonOf(int err);

// Opens path read/write without becoming its controlling terminal, close-on-exec (a child
// process would otherwise inherit the descriptor and with it the flock), non-blocking (the
// open cannot wait for carrier, and every later wait is a poll that can be woken). Refuses
// anything that is not a character device answering as a terminal, and a port held by another
// opener (flock, fcntl lock or TIOCEXCL), without changing anything on it; then sets TIOCEXCL
// to keep other non-root openers out. *onPty tells whether it is a pseudo-terminal's slave.
// Returns the descriptor, or -1 with the reason in *whyNot.
int OpenExclusive(const std::string& path, bool* onPty, std::string* whyNot);

// An open port. The descriptor is closed only when the last operation using it has let go, so
// no poll, read or write can ever land on a closed or reused descriptor number. Closing gives
// up the exclusive mode and discards output not yet sent.
struct Tty
{
    int fd;
    bool onPty;

    Tty(int descriptor, bool pty) : fd(descriptor), onPty(pty) {}
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;
    ~Tty();
};
