#pragma once

#include <QColor>

class QSettings;
class QString;

// Colours in the settings are stored as text: "#", then alpha, red, green and blue as two
// lower-case hexadecimal digits each (opaque orange is "#ffffaa00").

// The colour under key: a stored QColor value as it is, a text of exactly that form decoded, and
// def for anything else (upper-case digits, six digits, colour names, blanks) or when absent.
QColor readColorSetting(const QSettings &settings, const QString &key, const QColor &def);
// Stores color under key in the text form.
void writeColorSetting(QSettings &settings, const QString &key, const QColor &color);
