// The main of the libFuzzer targets: `--write-seeds DIR` writes the target's seeds and ends, so a
// fuzz build has its seeds without the test build (`--check-seeds DIR` also runs each against its
// mark, as the replay tests do); anything else goes to libFuzzer as usual.
#include "common/FuzzSeeds.h"
#include "common/SeedDirectory.h"

#include <cstring>

extern "C" int LLVMFuzzerRunDriver(int* argc, char*** argv,
                                   int (*callback)(const uint8_t* data, size_t size));

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-seeds") == 0)
        return FuzzSeeds::Write(argv[2], false) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "--check-seeds") == 0)
        return FuzzSeeds::Write(argv[2], true) ? 0 : 1;
    return LLVMFuzzerRunDriver(&argc, &argv, LLVMFuzzerTestOneInput);
}
