#include <string>
#include <vector>

#ifdef _WIN32
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#endif

#include "serialxfer/Veltrix.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // The texts carry their own CR LF; the run-time's text mode would put a
    // second CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    // -1 and -2 reach the caller as 255 and 254 (an exit status is 8 bits on
    // POSIX; Windows keeps all 32 bits).
    return serialxfer::RunVeltrix(args);
}
