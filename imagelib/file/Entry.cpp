// libik6file's entry points for recognition and loading.
#include "file/Formats.h"

using namespace ik;

extern "C" {

int IKFileType(const char* path, int, void* record) {
    Call call;
    if (!record)
        return call.Done(false, IK_ERR_ARGUMENT, "no record");
    TypeInfo info;
    std::memset(record, 0, IK_FILETYPE_SIZE);
    if (!Recognise(path, info))
        return call.Done(false, IK_ERR_FORMAT, "not an image file");
    Put32(record, IK_FT_WIDTH, std::min<int64_t>(info.width, INT32_MAX));
    Put32(record, IK_FT_HEIGHT, std::min<int64_t>(info.height, INT32_MAX));
    Put16(record, IK_FT_BITCOUNT, info.bitCount);
    Put16(record, IK_FT_ORIENTATION, info.orientation);
    Put16(record, IK_FT_TYPE, info.type);
    Put16(record, IK_FT_INTERLACE, info.interlace);
    Put16(record, IK_FT_PANES, info.panes);
    Put32(record, IK_FT_FILESIZE, info.fileSize);
    PutText(record, IK_FT_COMMENT, IK_FILETYPE_SIZE - IK_FT_COMMENT, info.comment);
    return call.Done(true, IK_ERR_NONE, "");
}

IKHANDLE IKFileLoad(const char* path, int, int, int, int, const char* caption, const char* message,
                    const char* button) {
    Call call;
    Progress progress(caption, message, button);
    return call.Done(Put(DecodeFile(path, 0, 0, nullptr, nullptr, &progress)), IK_ERR_DATA,
                     "the picture cannot be decoded");
}

IKHANDLE IKFileLoadScaled(const char* path, int minWidth, int minHeight, int32_t* origWidth,
                          int32_t* origHeight) {
    Call call;
    int64_t ow = 0, oh = 0;
    const IKHANDLE h =
        Put(DecodeFile(path, std::max(1, minWidth), std::max(1, minHeight), &ow, &oh, nullptr));
    if (origWidth)
        *origWidth = int32_t(std::min<int64_t>(ow, INT32_MAX));
    if (origHeight)
        *origHeight = int32_t(std::min<int64_t>(oh, INT32_MAX));
    return call.Done(h, IK_ERR_DATA, "the picture cannot be decoded");
}

IKHANDLE IKFileLoadScaledAs(const char* path, int type, int minWidth, int minHeight,
                            int32_t* origWidth, int32_t* origHeight) {
    Call call;
    int64_t ow = 0, oh = 0;
    const IKHANDLE h = Put(
        DecodeFileAs(path, type, std::max(1, minWidth), std::max(1, minHeight), &ow, &oh, nullptr));
    if (origWidth)
        *origWidth = int32_t(std::min<int64_t>(ow, INT32_MAX));
    if (origHeight)
        *origHeight = int32_t(std::min<int64_t>(oh, INT32_MAX));
    return call.Done(h, IK_ERR_DATA, "the picture cannot be decoded");
}

} // extern "C"
