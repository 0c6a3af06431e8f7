#pragma once

#include <QString>

// What an address handed over by a page's collector must be to become a record. The collector runs
// beside the page's own scripts and its answers pass through frames of any origin, so nothing in
// them is taken on trust: every address is checked here, and what fails is dropped and counted.
class CollectedAddress {
public:
    // Where an address stands: a link (or a frame) of the page, or the source of a file (an image,
    // an embed).
    enum class Role { Link, File };

    // The longest address taken, but for data: addresses, and the longest data: address.
    static constexpr qsizetype MaxChars = 64 * 1024;
    static constexpr qsizetype MaxDataChars = 1024 * 1024;
    // The most address text taken from one page, its frames included; the page is cut beyond it.
    static constexpr qsizetype PageChars = 64 * 1024 * 1024;

    // An absolute address (a scheme, then anything) without control characters and within the
    // length bound; a file's source is moreover one that names a file (http, https, ftp, file,
    // data, blob), never a script.
    static bool takes(const QString& address, Role role);
};
