// The folders of the build and of the sources that a few tests look in: the programs, the test
// plug-ins and the sources. CMake writes their definitions into a file of the build folder
// (TestPaths.cpp.in), so that no test file's command line carries an absolute path, which would
// keep ccache from reusing in one clone what another compiled.
#pragma once

#include <QString>

namespace testpaths {

extern const char kBinDir[];    // the programs (quilla, quilla-convert, the helpers)
extern const char kSpiDir[];    // the test plug-ins (*.spi)
extern const char kSourceDir[]; // the top of the sources

inline QString BinDir() {
    return QString::fromUtf8(kBinDir);
}
inline QString SpiDir() {
    return QString::fromUtf8(kSpiDir);
}
inline QString SourceDir() {
    return QString::fromUtf8(kSourceDir);
}

} // namespace testpaths
