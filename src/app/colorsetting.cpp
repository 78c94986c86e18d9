#include "app/colorsetting.h"

#include <QRegularExpression>
#include <QSettings>

QColor readColorSetting(const QSettings &settings, const QString &key, const QColor &def)
{
    const QVariant v = settings.value(key, QVariant::fromValue(def));
    if (v.userType() == QMetaType::QColor)
        return v.value<QColor>();
    static const QRegularExpression pattern(QStringLiteral("^#[0-9a-f]{8}$"));
    const QString text = v.toString();
    if (!pattern.match(text).hasMatch())
        return def;
    const uint argb = text.midRef(1).toUInt(nullptr, 16);
    return QColor(qRed(argb), qGreen(argb), qBlue(argb), qAlpha(argb));
}

void writeColorSetting(QSettings &settings, const QString &key, const QColor &color)
{
    QString text = color.name();
    text.insert(1, QStringLiteral("%1").arg(color.alpha(), 2, 16, QLatin1Char('0')));
    settings.setValue(key, text);
}
