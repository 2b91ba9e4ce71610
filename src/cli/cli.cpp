#include "cli/cli.h"

#include <cstdio>

int cli_main(int, char**) {
    std::fprintf(stderr, "usage: veltrona-cli [--data-dir DIR] list|add|check|run ...\n");
    return 2;
}
