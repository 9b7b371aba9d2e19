// The program itself, stopped after its first frame, for the start-up
// benchmark: with a quit message already waiting, the entry's first loop
// iteration takes it, renders and presents one frame, sleeps 16 ms and tears
// everything down. Nothing of the program is changed or left out.
#include "app/app.h"

int main(int argc, char **argv) {
    PostQuitMessage(0);
    return HotfxMain(argc, argv);
}
