#include "app/servingevents.h"

#include "geom/core/workerthreads.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>

void runServingEvents(const std::function<void()> &work, int intervalMs, const std::function<void()> &tick)
{
    // note: the loop outlives the work's thread (the work object goes first and joins it), so
    // the quit the work posts never reaches a destroyed loop.
    QEventLoop loop;
    std::atomic<bool> finished{false};
    geom::BackgroundWork background([&] {
        struct Done
        {
            QEventLoop &loop;
            std::atomic<bool> &finished;
            ~Done()
            {
                QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
                finished = true;
            }
        } done{loop, finished};
        work();
    });
    if (background.threaded()) {
        QTimer timer;
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, tick);
        timer.start();
        // A quit posted after this check waits in the queue for the loop.
        if (!finished)
            loop.exec();
    }
    background.wait();
}
