// STL files, ASCII and binary, through StlReader on a buffer as the program reads a file.

#include "stlfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quarnfuzz::readStl(quarnfuzz::bytes(data, size));
    return 0;
}
