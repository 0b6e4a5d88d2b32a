#include "console/app.h"

int main(int argc, char **argv)
{
    return plv::runConsole(argc, argv, plv::plrBuild());
}
