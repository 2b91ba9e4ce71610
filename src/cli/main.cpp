// veltrona-cli entry point.
#include "cli/cli.h"
#include "engines/engine_contract.h"

int main(int argc, char** argv) {
    return cli_main(argc, argv, &default_engine_table());
}
