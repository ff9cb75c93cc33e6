// The version check: asks, fetches the maker's version file, compares this product's release
// date with the program file's modification time, and shows the result.
#pragma once

#include "update/VersionFetch.h"

#include <QString>

class QWidget;

namespace VersionCheck {

// The environment variable that names another version file for one run of the program.
inline constexpr const char* kAddressVariable = "QUILLA_VERSION_URL";

// The version file's address: the environment variable when it is set and not empty, else the
// address the program was built with.
QString VersionFileAddress(const QString& built);

struct Config {
    QString versionFile; // the version file's address
    QString homePage;    // opened by the result dialog's download button
    QString executable;  // the program file whose modification time is compared
};

// What one run of the command came to (for the caller and for tests).
enum class Result {
    NotAsked,  // the question was not answered with Yes
    Cancelled, // the waiting was cancelled
    Failed,    // the failure message was shown (and before it the address message, if any)
    Newest,    // "現在お使いのバージョンが最新版です"
    Newer,     // the result dialog was shown (the home page opened when its button ended it)
};

// The whole command, with its question, its wait and its messages. Blocks until it has ended;
// while the file is fetched the wait cursor and a cancellable progress window are shown.
Result Run(QWidget* owner, const Config& config);

// The time-outs and size limit of the fetch (tests shorten them); the previous ones are returned.
CVersionFetch::Limits SetLimits(const CVersionFetch::Limits& limits);

} // namespace VersionCheck
