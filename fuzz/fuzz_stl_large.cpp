// STL files larger than the reader's internal chunks (1 MiB of input, batches of 4096 ASCII
// facets, 20971 binary records): the input is repeated until the file passes 1.5 MiB, so damage
// and line ends fall on every chunk boundary in turn.

#include "stlfuzz.h"

namespace {

constexpr int LargeFileBytes = 3 << 19;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray unit = quarnfuzz::bytes(data, size);
    quarnfuzz::readStl(unit.repeated(LargeFileBytes / unit.size() + 1));
    return 0;
}
