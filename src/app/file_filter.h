// File dialog filters written as "description|pattern;pattern|description|..." (pairs separated
// by "|", the first pair the default), turned into the name filters of a Qt file dialog.
#pragma once

#include <QString>
#include <QStringList>

namespace trelvix::app {

// "Video Files|*.AVI;*.MKV;" gives "Video Files (*.AVI *.MKV)"; empty patterns are dropped.
QStringList DialogNameFilters(const QString& filter);

}  // namespace trelvix::app
