#pragma once

class QDialog;
class QWidget;

// The news dialog is the one part of the program that needs the web engine, whose libraries took
// half of the start-up time of every batch run. So it lives in a module of its own, "quarn_news"
// beside the program (found on Qt's library path, which ends with the program's folder), which
// only a main window loads.

// The module's entry: builds the news dialog with `parent` as owner.
using NewsDialogFactory = QDialog *(*)(QWidget *parent);
constexpr char NewsDialogFactoryName[] = "quarnCreateNewsDialog";

// Builds the news dialog from the module; null, with a warning in the log (the reason the last
// folder gave), when the module cannot be loaded.
QDialog *createNewsDialog(QWidget *parent);

// Asks the dialog for the news, as the News action does.
void showNews(QDialog *newsDialog);
