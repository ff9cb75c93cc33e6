// The size a picture is shrunk to so that it fits a box, on plain integers: the arithmetic of
// FittedSize (Fit.h) for code without Qt.
#pragma once

struct FitSides {
    int width = 0;
    int height = 0;
};

// Unchanged when the picture already fits (w ≤ box width and h ≤ box height). Otherwise, when
// w < h: s = h × 100 / box height and the size is (w × 100 / s, box height), the width kept within
// 1..w; when w ≥ h: s = w × 100 / box width and the size is (box width, h × 100 / s), the height
// kept within 1..h. A box side below 1 counts as 1. A ratio of 0 (a box more than a hundred times
// the picture's longer side) cannot divide: the picture is then left unchanged.
inline FitSides FittedSides(FitSides picture, FitSides box) {
    const int w = picture.width, h = picture.height;
    const int aw = box.width < 1 ? 1 : box.width, ah = box.height < 1 ? 1 : box.height;
    if (w <= aw && h <= ah)
        return picture;
    if (w < h) {
        const int s = h * 100 / ah;
        if (s == 0)
            return picture;
        int nw = w * 100 / s;
        nw = nw < 1 ? 1 : nw > w ? w : nw;
        return {nw, ah};
    }
    const int s = w * 100 / aw;
    if (s == 0)
        return picture;
    int nh = h * 100 / s;
    nh = nh < 1 ? 1 : nh > h ? h : nh;
    return {aw, nh};
}
