#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

#include "run/eqsim_main.h"

namespace {

// A closed standard stream is given a stand-in, so that no file the program opens can take its
// place. The stand-in is the root folder opened for reading: writes to it fail as they would on
// the closed stream, and so does any path that leads back to it (a report named /dev/stdout, a
// control file named /dev/stdin), where /dev/null would silently swallow or give nothing.
int open_stand_in() {
    const int root = open("/", O_RDONLY | O_DIRECTORY);
    return root >= 0 ? root : open("/dev/null", O_RDONLY);
}

void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            const int stand_in = open_stand_in();
            if (stand_in >= 0 && stand_in != fd) {
                dup2(stand_in, fd);
                close(stand_in);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    guard_standard_streams();
    // A closed pipe must come back as a write error, not end the process unreported; so must a
    // report that passes the file size limit, which would otherwise leave its temporary file.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return eqsim::eqsim_main(argc, argv, stdout, stderr);
}
