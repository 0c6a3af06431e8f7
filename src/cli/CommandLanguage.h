#pragma once

// The language of the windowless commands' help: Japanese when the user's locale for messages is
// Japanese (LC_ALL, then LC_MESSAGES, then LANG, as POSIX orders them), English otherwise.
namespace CommandLanguage {

bool isJapanese();

} // namespace CommandLanguage
