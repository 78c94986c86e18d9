#pragma once

#include <QFileInfo>
#include <QString>
#include <QVector>

// One file of a batch, an element of the job list that the work queue owns and works on in place.
// While a batch runs, the record is read and written only under the queue's status mutex.
struct BatchJob
{
    enum Kind
    {
        Compress = 1,  // STL to compressed mesh
        Decompress = 2 // compressed mesh to binary STL
    };

    QFileInfo source;
    // A Kind; a job of any other kind is passed over.
    int kind = 0;
    // 0 while reading, 50 while converting and writing, 100 when finished or failed.
    qint8 percent = 0;
    // "Reading", "Compressing", "Decompressing", "Complete", "Failed" or "Skipped"; not translated.
    QString activity;
    // Why the file failed (the read failure or the write failure); empty unless it failed.
    QString message;
};

using BatchJobList = QVector<BatchJob>;
