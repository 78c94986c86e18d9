#pragma once

#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/formats/stlreader.h"
#include "geom/formats/stlwriter.h"

#include <QString>

// The user's texts of failed reads and writes, untranslated: "Not enough memory",
// "Incorrect format", "Corrupted data" or "Not readable" for reads.

// Why the file at `path` cannot be read as a model, found before anything reads it: "File does not
// exist", "It is a folder", "Not a regular file (a pipe, socket or device)", or the system's reason
// why it cannot be reached or opened for reading ("Permission denied", "Too many levels of
// symbolic links"). A null string for a regular file that opens. Pipes and devices are never
// opened, since opening a pipe waits for a writer.
QString sourceFailureText(const QString &path);
// "It is a folder" or "Not a regular file (a pipe, socket or device)" for a file of `mode` (the
// st_mode of stat); a null string for a regular file.
QString fileTypeFailureText(unsigned mode);

// Out of memory wins over a bad header or a truncation; anything else is "Not readable".
QString readFailureText(geom::StlReader::Statuses status);
// Out of memory, an incorrect format and corrupted data (6, 4 and 5) have their own texts; any
// other status is "Not readable". A file whose vertex block is enciphered says so instead of the
// format or data fault, since without the key (which the batch never has) it cannot be read.
QString readFailureText(const geom::QrnReader &reader, geom::QrnReader::Status status);
// A read that succeeded but left out `count` facets naming missing vertices.
QString droppedFacetsText(int count);
// "Not writable", "Write failed", or "Not enough memory" for Failed: the stripped form could not
// be built, which happens when memory runs out.
QString writeFailureText(geom::QrnWriter::Status status);
// The reason the STL writer kept from its file (such as "No space left on device"), else
// "Write failed".
QString writeFailureText(const geom::StlWriter &writer);
