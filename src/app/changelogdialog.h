#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QRegExp>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextEdit;

// Colours the change log line by line: version headers, change lines and date lines. Rules apply
// in the order they were added; a later rule overrides an earlier one on the same characters.
class ChangelogSyntaxHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT

public:
    explicit ChangelogSyntaxHighlighter(QTextEdit *parent);

    void addRule(const QRegExp &pattern, const QTextFormat &format);
    // The format sets only a solid foreground brush of color.
    void addRule(const QRegExp &pattern, const QColor &color);

protected:
    void highlightBlock(const QString &text) override;

private:
    QList<QPair<QRegExp, QTextCharFormat>> m_rules;
};

// The program's change log, read-only in a fixed-pitch view. Built on the heap by the main window,
// which deletes it when it finishes.
class ChangelogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangelogDialog(QWidget *parent = nullptr);
};
