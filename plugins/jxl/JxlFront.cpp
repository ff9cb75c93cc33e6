// jxl.spi: the front of the JPEG XL plug-in (see SpiFront.h); jxl-codec.so decodes.
#include "JxlFormat.h"
#include "SpiFront.h"
#include "SpiPlugin.h"

#include <iterator>

namespace spi::front {
const char* const kCodecFile = "jxl-codec.so";
const char* const* const kTexts = jxl_format::kTexts;
const int kTextCount = int(std::size(jxl_format::kTexts));
} // namespace spi::front

extern "C" int IsSupported(const char* name, uintptr_t dw) {
    const uint8_t* head = spi::Head(dw);
    if (!head || !jxl_format::MayBeJxl(head, SPI_HEAD_SIZE))
        return 0;
    return spi::front::CodecIsSupported(name, dw);
}
