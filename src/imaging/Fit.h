// The size a picture is shrunk to so that it fits a box, keeping its aspect through an integer
// percent ratio taken from its longer side.
#pragma once

#include "imaging/FitSides.h"

#include <QSize>

// See FittedSides (FitSides.h).
inline QSize FittedSize(QSize picture, QSize box) {
    const FitSides s =
        FittedSides({picture.width(), picture.height()}, {box.width(), box.height()});
    return QSize(s.width, s.height);
}
