// hotfx-compile-server: compiles HLSL for hotfx in a process of its own
// (server.h). hotfx starts it with the socket as descriptor 3 and
// its own process id as the only argument; nobody else has a use for it.
#include "platform/gl/compiler/server.h"

#include <cstdlib>

#include <sys/prctl.h>
#include <csignal>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    // Ends with hotfx, even while stuck in a hang; a parent already gone
    // before this took effect leaves nothing to serve.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != static_cast<pid_t>(std::atol(argv[1]))) return 0;
    return ServeCompiles(3);
}
