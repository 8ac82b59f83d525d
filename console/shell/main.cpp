#include "sanitizer_options.h"
#include "tarvex_main.h"

int main(int argc, char **argv)
{
    return tarvex_main(argc, argv);
}
