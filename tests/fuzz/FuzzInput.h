#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: turning the fuzzer's bytes into text and failing loudly.
namespace FuzzInput {

// The bytes read as UTF-8 that may also encode single surrogates (as WTF-8 writes them: ED A0 80 is
// a lone U+D800), so that seed files can hold text that no valid UTF-8 can. Any other byte that is no
// part of a well-formed sequence reads as U+FFFD.
QString text(const uint8_t* data, size_t size);

// text with every character outside printable ASCII written as \uXXXX, for reports.
QString printable(const QString& text);

// Aborts with a report of the rule broken, the input and the result when ok is false: libFuzzer then
// keeps the input as a crash file.
void require(bool ok, const char* rule, const QString& input, const QString& result = QString());

// Numbers drawn from the input itself, so that a crash file repeats them.
class Choices {
public:
    Choices(const uint8_t* data, size_t size);
    // A number in [0, bound); 0 when bound is 0.
    quint32 below(quint32 bound);

private:
    quint32 m_state = 2166136261u;
};

// Why name cannot be created as it is, in any folder on any platform (empty, "." or "..", a leading
// dot, a trailing dot or space, not UTF-8, over 255 bytes, a separator, control or direction
// character, a device name reserved on Windows); nullptr when it can.
const char* fileNameFault(const QString& name);

} // namespace FuzzInput
