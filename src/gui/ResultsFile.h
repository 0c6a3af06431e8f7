#pragma once

#include "tURLData.h"

#include <QList>

#include <functional>

class PictureStore;
class QWidget;

// 結果を保存… and 結果を開く…: the result lists written to a text, CSV or JSON lines file (with what
// the picture view measured of each entry), and both lists read back from such a CSV or JSON lines
// file.
namespace ResultsFile {

// rows with the facts that pictures measured (width, height, bytes, type) written into those that
// do not have them already.
QList<tURLData> withMeasuredFacts(QList<tURLData> rows, const PictureStore* pictures);
// Asks for a file and writes rows to it; a failure is told over window.
void save(QWidget* window, const QList<tURLData>& rows);
// Asks for a file and hands its records to restore; a file that is no saved result is told over
// window and restores nothing.
void open(QWidget* window, std::function<void(const QList<tURLData>& records)> restore);

} // namespace ResultsFile
