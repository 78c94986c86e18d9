// Compressed mesh content without its gzip container, through QrnReader on a buffer.

#include "qrnfuzz.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QBuffer buffer;
    const QByteArray content = quarnfuzz::bytes(data, size);
    buffer.setData(content);
    if (quarnfuzz::readQrn(&buffer) == geom::QrnReader::Done)
        quarnfuzz::requireEndChecked(content);
    return 0;
}
