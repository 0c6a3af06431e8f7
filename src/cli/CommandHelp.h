#pragma once

#include <QList>
#include <QString>

// The options of the windowless commands, each described in both languages of their help, so
// that the English and the Japanese help list the same options: the synopsis, the option lines and
// the program's usage are all made from these tables.
namespace CommandHelp {

struct Option {
    QString name;     // "--jobs"
    QString argument; // "N", or empty for a switch
    QString english;  // what it does; "\n" starts a continuation line
    QString japanese;
};

QList<Option> harvestOptions();
QList<Option> downloadOptions();
QList<Option> historyOptions();

// "[--json] [--jobs N] ...", wrapped before width characters, later lines indented by indent.
QString synopsis(const QList<Option>& options, int indent, int width = 100);
// One line an option ("  --jobs N      transfers at once…"), in the language of CommandLanguage.
QString optionLines(const QList<Option>& options);

} // namespace CommandHelp
