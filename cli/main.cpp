#include <unistd.h>

#include <iostream>

#include "cli/CliApp.h"

int main(int argc, char* argv[])
{
    CliApp app(std::cout, std::cerr, std::cin, ::isatty(STDERR_FILENO) == 1,
               ::isatty(STDIN_FILENO) == 1);
    return app.Run(argc, argv);
}
