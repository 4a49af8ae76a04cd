#include "run/driver.h"

int main(int argc, char **argv)
{
    return RunTalvek(argc, argv);
}
