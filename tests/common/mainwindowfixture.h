#pragma once

// The main window of the widget tests: built as the program builds it, shown, with a model
// opened; its rendering modes, the answers to its file dialogs, typing into its fields, mouse
// clicks, its menu entries, the texts of its information panel, and the main() of a window test.
// Header only: the including test links quarn_app and quarn_testwidgets.

#include "app/application.h"
#include "app/mainwindow.h"
#include "modaldialoganswerer.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMap>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <QVector>
#include <QtTest>

#include <functional>
#include <memory>
#include <optional>

namespace widgettest {

// The main() of a window test: the application made as the program makes it, with the toolkit's
// own dialogs (which the tests answer) and the program's names for its settings, and no model file
// taken from the command line (the test's own arguments, function names and options, are none);
// then the functions of a Test made after it. When `instead` returns a code, the process ends with
// it and no test function runs (a test program that runs itself again as a child).
template <typename Test>
int windowTestMain(int argc, char *argv[], const std::function<std::optional<int>()> &instead = nullptr)
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    Application app(argc, argv);
    MainWindow::dropCommandLineFile();
    if (instead) {
        if (const std::optional<int> code = instead())
            return *code;
    }
    Test test;
    return QTest::qExec(&test, argc, argv);
}

// The window's news dialog, built by the news module beside the program; null without one. Its
// class is the module's, not the test's, so it is found by its class name.
inline QDialog *newsDialogOf(const QWidget &window)
{
    QDialog *found = nullptr;
    for (QDialog *dialog : window.findChildren<QDialog *>()) {
        if (qstrcmp(dialog->metaObject()->className(), "NewsDialog") == 0)
            found = dialog;
    }
    return found;
}

// A rendering mode of the Options menu other than plain shading: its name and the actions that
// select it, in the order a user checks them.
struct RenderingMode
{
    const char *name;
    QVector<const char *> actions;
};

inline const QVector<RenderingMode> &renderingModes()
{
    static const QVector<RenderingMode> modes = {
        {"lines", {"action_Line_Rendering"}},
        {"hidden-lines", {"action_Line_Rendering", "action_Hidden_Line_Rendering"}},
        {"wireframe", {"action_Wireframe_Rendering"}},
        {"x-ray", {"action_X_Ray_Shading"}},
    };
    return modes;
}

// A new main window in the C locale (the panel's figures read "1.500"), resized to size when it
// is valid, shown and exposed.
inline std::unique_ptr<MainWindow> shownMainWindow(const QSize &size = QSize())
{
    auto window = std::make_unique<MainWindow>();
    window->setLocale(QLocale::c());
    if (size.isValid())
        window->resize(size);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

// shownMainWindow with the file at path opened. A message box of the open is closed, so that a
// broken fixture fails the test instead of blocking it; the window then has no file.
inline std::unique_ptr<MainWindow> mainWindowWith(const QString &path, const QSize &size = QSize())
{
    auto window = shownMainWindow(size);
    ModalDialogAnswerer answerer;
    window->openFile(path);
    if (!window->hasCurrentFile())
        qWarning("%s not opened", qPrintable(path));
    return window;
}

// Answers a file dialog with the path and, when given, the name filter.
inline ModalDialogAnswerer::Answer chooseFile(const QString &path, const QString &filter = QString())
{
    return [path, filter](QWidget *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        if (!files) {
            qWarning("expected a file dialog, got %s", dialog->metaObject()->className());
            dialog->close();
            return;
        }
        files->setOption(QFileDialog::DontConfirmOverwrite);
        files->setDirectory(QFileInfo(path).absolutePath());
        if (!filter.isEmpty())
            files->selectNameFilter(filter);
        // Typed last: a change of filter rewrites the suffix of the name in the field.
        if (auto *nameEdit = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            nameEdit->setText(QFileInfo(path).fileName());
        else
            files->selectFile(path);
        static_cast<QDialog *>(files)->accept();
    };
}

// Answers an item dialog (the PLY format) with the item.
inline ModalDialogAnswerer::Answer chooseItem(const QString &item)
{
    return [item](QWidget *dialog) {
        auto *input = qobject_cast<QInputDialog *>(dialog);
        if (!input) {
            dialog->close();
            return;
        }
        input->setTextValue(item);
        static_cast<QDialog *>(input)->accept();
    };
}

// Replaces the text of the field by typing, as a user does.
inline void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Sends a mouse event to the widget at the position (its own pixels), as the window system does.
inline void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &position, Qt::MouseButton button,
                      Qt::MouseButtons buttons)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Moves onto the position, then presses and releases there.
inline void clickAt(QWidget *widget, const QPoint &position, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(widget, QEvent::MouseMove, position, Qt::NoButton, Qt::NoButton);
    sendMouse(widget, QEvent::MouseButtonPress, position, button, button);
    sendMouse(widget, QEvent::MouseButtonRelease, position, button, Qt::NoButton);
}

// The visible entry of the menu whose text is text, or null.
inline QAction *visibleEntry(const QMenu *menu, const QString &text)
{
    for (QAction *entry : menu->actions()) {
        if (entry->isVisible() && entry->text() == text)
            return entry;
    }
    return nullptr;
}

// The texts of the visible recent-file entries of the menu ("&1 part.stl"), top to bottom.
inline QStringList recentEntries(const QMenu *menu)
{
    static const QRegularExpression recent(QStringLiteral("^&[1-9] "));
    QStringList texts;
    for (QAction *entry : menu->actions()) {
        if (entry->isVisible() && recent.match(entry->text()).hasMatch())
            texts << entry->text();
    }
    return texts;
}

// Triggers the action while an answerer closes the dialogs it opens; the titles of those dialogs.
inline QStringList dialogTitlesOnTrigger(QAction *action)
{
    ModalDialogAnswerer answerer;
    action->trigger();
    QStringList titles;
    for (const ModalDialogAnswerer::Seen &dialog : answerer.seen())
        titles << dialog.title;
    return titles;
}

// The tree of the window's information panel.
inline QTreeWidget *informationTree(QWidget *window)
{
    auto *browser = window->findChild<QWidget *>(QStringLiteral("informationPropertyBrowser"));
    return browser ? browser->findChild<QTreeWidget *>() : nullptr;
}

// The information panel as label to value, a child's label prefixed by its parent's and a dot
// ("X.Min").
inline QMap<QString, QString> panelTexts(QWidget *window)
{
    QMap<QString, QString> texts;
    QTreeWidget *tree = informationTree(window);
    if (!tree)
        return texts;
    const auto valueOf = [tree](QTreeWidgetItem *item) {
        auto *editor = qobject_cast<QLineEdit *>(tree->itemWidget(item, 1));
        return editor ? editor->text() : item->text(1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        texts.insert(item->text(0), valueOf(item));
        for (int c = 0; c < item->childCount(); ++c)
            texts.insert(item->text(0) + QLatin1Char('.') + item->child(c)->text(0), valueOf(item->child(c)));
    }
    return texts;
}

} // namespace widgettest
