#include "cli/CCliApplication.h"

int main(int argc, char** argv)
{
    return CCliApplication::run(argc, argv);
}
