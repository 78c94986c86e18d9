#pragma once

#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/formats/stlreader.h"

#include <QString>

// The user's texts of failed reads and writes, untranslated: "Not enough memory",
// "Incorrect format", "Corrupted data" or "Not readable" for reads.

// Out of memory wins over a bad header or a truncation; anything else is "Not readable".
QString readFailureText(geom::StlReader::Statuses status);
// 6, 4 and 5 have their own texts; any other status is "Not readable".
QString readFailureText(geom::QrnReader::Status status);
// "Not writable", "Write failed" or "Conversion failed" (no complete triangle strips).
QString writeFailureText(geom::QrnWriter::Status status);
