#include "app/newsmodule.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QLibrary>
#include <QMetaObject>
#include <QtDebug>

QDialog *createNewsDialog(QWidget *parent)
{
    // note: Qt's library path ends with the program's folder, where the module is installed.
    QString error = QStringLiteral("Qt's library path names no folder");
    const QStringList folders = QCoreApplication::libraryPaths();
    for (const QString &folder : folders) {
        // note: the library stays loaded for the rest of the process, as the dialog's code does.
        QLibrary module(QDir(folder).filePath(QStringLiteral("quarn_news")));
        if (!module.load()) {
            error = module.errorString();
            continue;
        }
        if (auto create = reinterpret_cast<NewsDialogFactory>(module.resolve(NewsDialogFactoryName)))
            return create(parent);
        error = module.errorString();
    }
    qWarning("MainWindow: the news cannot be shown: %s", qPrintable(error));
    return nullptr;
}

void showNews(QDialog *newsDialog)
{
    if (newsDialog)
        QMetaObject::invokeMethod(newsDialog, "showNews");
}
