// The player program. Everything it does is start-up and shutdown code of the core.
#include "player/player.h"

int main(int argc, char** argv) { return qv::PlayerMain(argc, argv); }
