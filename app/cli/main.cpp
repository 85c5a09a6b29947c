#include <unistd.h>

#include <iostream>

#include "app/batch/picture_memory.h"
#include "app/cli/cli.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    vellumar::batch::KeepFreedPictureMemory();
    return vellumar::cli::Run(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
