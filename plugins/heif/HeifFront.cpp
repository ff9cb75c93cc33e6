// heif.spi: the front of the HEIF plug-in (see SpiFront.h); heif-codec.so decodes.
#include "HeifFormat.h"
#include "SpiFront.h"
#include "SpiPlugin.h"

#include <iterator>

namespace spi::front {
const char* const kCodecFile = "heif-codec.so";
const char* const* const kTexts = heif_format::kTexts;
const int kTextCount = int(std::size(heif_format::kTexts));
} // namespace spi::front

extern "C" int IsSupported(const char* name, uintptr_t dw) {
    const uint8_t* head = spi::Head(dw);
    if (!head || !heif_format::MayBeHeif(head, SPI_HEAD_SIZE))
        return 0;
    return spi::front::CodecIsSupported(name, dw);
}
