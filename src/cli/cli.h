// The headless front end as a library entry, so tests can drive it in process.
#pragma once

int cli_main(int argc, char** argv);
