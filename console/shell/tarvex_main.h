// The console program's entry, as a function the tests can run.
#pragma once

int tarvex_main(int argc, char **argv);
