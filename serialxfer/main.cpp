#include <string>
#include <vector>

#include "serialxfer/Veltrix.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    // -1 and -2 reach the caller as 255 and 254 (an exit status is 8 bits).
    return veltrix::RunVeltrix(args);
}
