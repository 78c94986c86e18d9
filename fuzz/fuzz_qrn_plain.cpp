// Compressed mesh content without its gzip container, through QrnReader on a buffer.

#include "qrnfuzz.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QBuffer buffer;
    buffer.setData(quarnfuzz::bytes(data, size));
    quarnfuzz::readQrn(&buffer);
    return 0;
}
