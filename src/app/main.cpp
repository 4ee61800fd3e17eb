#include "Calvoro.h"

int main(int argc, char** argv) { return calvoro::app::RunCalvoro(argc, argv); }
