#include "app/newsmodule.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QLibrary>
#include <QMetaObject>
#include <QtDebug>

QDialog *createNewsDialog(QWidget *parent)
{
    QStringList folders = QCoreApplication::libraryPaths();
    folders.removeAll(QCoreApplication::applicationDirPath());
    folders.prepend(QCoreApplication::applicationDirPath());
    QString error;
    for (const QString &folder : qAsConst(folders)) {
        // note: the library stays loaded for the rest of the process, as the dialog's code does.
        QLibrary module(QDir(folder).filePath(QStringLiteral("quarn_news")));
        if (!module.load()) {
            if (error.isEmpty())
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
