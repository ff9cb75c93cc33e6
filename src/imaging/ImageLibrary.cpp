#include "imaging/ImageLibrary.h"

bool LoadImageLibrary() {
    // No imaging module is installed with this build, so there are no entry points to resolve:
    // every image operation reports failure.
    return false;
}
