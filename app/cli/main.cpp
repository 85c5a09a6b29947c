#include <unistd.h>

#include <iostream>

#include "app/cli/cli.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return vellumar::cli::Run(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
