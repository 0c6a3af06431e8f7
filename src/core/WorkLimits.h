#pragma once

#include <QtGlobal>

// How much work the program does at once, and how far it goes: the one place for these numbers.
// The command line's options, the settings and the classes that do the work all clamp to them.
namespace WorkLimits {

// Pages an analysis loads at once. Each is a renderer of its own: more only costs memory.
inline constexpr int MostPagesAtOnce = 32;
inline constexpr int DefaultPagesAtOnce = 4;

// Transfers a download runs at once, and to one host at most (6, as browsers do).
inline constexpr int MostTransfersAtOnce = 16;
inline constexpr int DefaultTransfersAtOnce = 6;
inline constexpr int TransfersPerHost = 6;

// Retries of a download after a transient failure (0: none).
inline constexpr int MostRetries = 10;
inline constexpr int DefaultRetries = 3;
// Redirects that one download follows.
inline constexpr int MostRedirects = 20;

// Records taken from one page, its frames included; a page with more is cut there and says so.
inline constexpr int MostRecordsPerPage = 1000000;
// How far a page is scrolled to its end before it is harvested, when asked: screens and time.
inline constexpr int MostScrollScreens = 50;
inline constexpr int MostScrollMs = 20000;
// The largest document that the quick reader (no scripts) reads itself.
inline constexpr qint64 MostDocumentBytes = 32 * 1024 * 1024;

} // namespace WorkLimits
