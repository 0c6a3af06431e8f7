#pragma once

#include <QString>

#include <cstdio>

// What the windowless commands print: UTF-8 text on standard output or standard error, in the
// one-line-per-entry formats that scripts read.
namespace CommandOutput {

// Writes text as UTF-8; flushed unless more follows at once.
void write(FILE* stream, const QString& text, bool flush = true);

// Tabs and line breaks inside a field (an address, a reason) would break the line format: each
// becomes a space.
QString oneLine(QString text);

} // namespace CommandOutput
