#include "app/changelogdialog.h"

#include <QCoreApplication>
#include <QFile>
#include <QGridLayout>
#include <QTextEdit>

ChangelogSyntaxHighlighter::ChangelogSyntaxHighlighter(QTextEdit *parent)
    : QSyntaxHighlighter(parent->document())
{
    addRule(QRegExp(QStringLiteral("^[0-9]+\\.[0-9]+\\.[0-9]+:$")), QColor(128, 0, 0));
    addRule(QRegExp(QStringLiteral("^  \\* .*$")), QColor(0, 0, 255));
    addRule(QRegExp(QStringLiteral("^  \\* ")), QColor(0, 128, 0));
    addRule(QRegExp(QStringLiteral("^ -- .*$")), QColor(255, 0, 0));
    addRule(QRegExp(QStringLiteral("^ -- ")), QColor(0, 0, 0));
}

void ChangelogSyntaxHighlighter::addRule(const QRegExp &pattern, const QTextFormat &format)
{
    m_rules.append(qMakePair(pattern, format.toCharFormat()));
}

void ChangelogSyntaxHighlighter::addRule(const QRegExp &pattern, const QColor &color)
{
    QTextCharFormat format;
    format.setForeground(QBrush(color, Qt::SolidPattern));
    addRule(pattern, format);
}

void ChangelogSyntaxHighlighter::highlightBlock(const QString &text)
{
    for (const auto &rule : qAsConst(m_rules)) {
        QRegExp expression = rule.first;
        int index = expression.indexIn(text, 0, QRegExp::CaretAtZero);
        while (index >= 0) {
            const int length = expression.matchedLength();
            if (length < 1)
                break;
            setFormat(index, length, rule.second);
            index = expression.indexIn(text, index + length, QRegExp::CaretAtZero);
        }
    }
}

ChangelogDialog::ChangelogDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    QFile file(QStringLiteral(":/changelog.txt"));
    const bool opened = file.open(QIODevice::ReadOnly);

    auto *textEdit = new QTextEdit(this);
    auto *layout = new QGridLayout(this);
    layout->addWidget(textEdit);
    QFont font(QStringLiteral("Courier"), 8);
    new ChangelogSyntaxHighlighter(textEdit);
    textEdit->setFont(font);
    textEdit->setReadOnly(true);
    textEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    if (opened)
        textEdit->setPlainText(QString::fromUtf8(file.readAll()));

    setWindowTitle(tr("Changelog - %1").arg(qApp->property("FullApplicationName").toString()));
    setMinimumSize(640, 500);
}
