// Pictures as plug-ins hand them over (BITMAPINFO and bits) read into images: every depth, both
// row orders, alpha, and headers that lie about their size.
#include "imaging/Dib.h"

#define SPI_HOST
#include "spi.h"

#include <QByteArray>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A BITMAPINFO block with an optional colour table or masks after the header.
QByteArray Info(int width, int height, int bpp, uint32_t compression = BI_RGB,
                const std::vector<uint32_t>& after = {}, uint32_t clrUsed = 0) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bpp);
    h.biCompression = compression;
    h.biClrUsed = clrUsed;
    QByteArray b(reinterpret_cast<const char*>(&h), sizeof h);
    for (uint32_t v : after)
        b.append(reinterpret_cast<const char*>(&v), 4);
    return b;
}

size_t Stride(int width, int bpp) {
    return size_t((width * bpp + 31) / 32) * 4;
}

QImage Read(const QByteArray& info, const QByteArray& bits, QString* reason = nullptr) {
    return DibToImage(info.constData(), size_t(info.size()), bits.constData(), size_t(bits.size()),
                      reason);
}

} // namespace

TEST(Dib, TwentyFourBitsBottomUpAndTopDown) {
    // 3 × 2: rows padded to 12 bytes; the first row in memory is the bottom one.
    QByteArray bits(int(Stride(3, 24)) * 2, char(0));
    auto put = [&](int row, int x, int r, int g, int b) {
        char* p = bits.data() + row * 12 + x * 3;
        p[0] = char(b), p[1] = char(g), p[2] = char(r);
    };
    put(0, 0, 255, 0, 0);  // bottom left: red
    put(1, 2, 0, 0, 255);  // top right: blue
    put(1, 0, 10, 20, 30); // top left
    QImage up = Read(Info(3, 2, 24), bits);
    ASSERT_FALSE(up.isNull());
    EXPECT_EQ(up.format(), QImage::Format_RGB888);
    EXPECT_EQ(up.pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(up.pixel(2, 0), qRgb(0, 0, 255));
    EXPECT_EQ(up.pixel(0, 0), qRgb(10, 20, 30));
    // A negative height: the first row in memory is the top one.
    QImage down = Read(Info(3, -2, 24), bits);
    ASSERT_FALSE(down.isNull());
    EXPECT_EQ(down.size(), QSize(3, 2));
    EXPECT_EQ(down.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(down.pixel(2, 1), qRgb(0, 0, 255));
}

TEST(Dib, PaletteDepths) {
    // 1 bit, most significant bit first, two colours.
    QByteArray bits1(int(Stride(10, 1)), char(0));
    bits1[0] = char(0x80); // x = 0 set
    bits1[1] = char(0x40); // x = 9 set
    QImage one = Read(Info(10, 1, 1, BI_RGB, {0x000000, 0xFFFFFF}), bits1);
    ASSERT_FALSE(one.isNull());
    EXPECT_EQ(one.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(one.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(one.pixel(9, 0), qRgb(255, 255, 255));
    // 4 bits with three colours used: indices past the table are black, not garbage.
    QByteArray bits4(int(Stride(3, 4)), char(0));
    bits4[0] = char(0x12);
    bits4[1] = char(0xF0);
    QImage four = Read(Info(3, 1, 4, BI_RGB, {0x0000FF, 0x00FF00, 0xFF0000}, 3), bits4);
    ASSERT_FALSE(four.isNull());
    EXPECT_EQ(four.format(), QImage::Format_Indexed8);
    EXPECT_EQ(four.pixel(0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(four.pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(four.pixel(2, 0), qRgb(0, 0, 0));
    // 8 bits, full table (biClrUsed 0 means 256 entries, which must all be there).
    std::vector<uint32_t> grey(256);
    for (uint32_t i = 0; i < 256; ++i)
        grey[i] = i * 0x010101u;
    QByteArray bits8(int(Stride(2, 8)), char(0));
    bits8[0] = char(7);
    bits8[1] = char(200);
    QImage eight = Read(Info(2, 1, 8, BI_RGB, grey), bits8);
    ASSERT_FALSE(eight.isNull());
    EXPECT_EQ(eight.pixel(1, 0), qRgb(200, 200, 200));
    QString why;
    EXPECT_TRUE(Read(Info(2, 1, 8, BI_RGB, {0, 0, 0}), bits8, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("colour table beyond its block"));
}

TEST(Dib, SixteenBitsPlainAndWithMasks) {
    QByteArray bits(int(Stride(2, 16)), char(0));
    const uint16_t red555 = 0x7C00, green565 = 0x07E0;
    std::memcpy(bits.data(), &red555, 2);
    QImage plain = Read(Info(2, 1, 16), bits);
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(plain.format(), QImage::Format_RGB555);
    EXPECT_EQ(plain.pixel(0, 0), qRgb(255, 0, 0));
    std::memcpy(bits.data(), &green565, 2);
    QImage masked = Read(Info(2, 1, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}), bits);
    ASSERT_FALSE(masked.isNull());
    EXPECT_EQ(masked.format(), QImage::Format_RGB16);
    EXPECT_EQ(masked.pixel(0, 0), qRgb(0, 255, 0));
    // Unusual masks (4-4-4) are read channel by channel.
    const uint16_t blue444 = 0x000F;
    std::memcpy(bits.data(), &blue444, 2);
    QImage odd = Read(Info(2, 1, 16, BI_BITFIELDS, {0x0F00, 0x00F0, 0x000F}), bits);
    ASSERT_FALSE(odd.isNull());
    EXPECT_EQ(odd.pixel(0, 0), qRgb(0, 0, 255));
}

TEST(Dib, ThirtyTwoBitsAlphaOnlyWhereItVaries) {
    QByteArray bits(8, char(0));
    const uint32_t half = 0x80FF0000, opaqueGreen = 0xFF00FF00;
    std::memcpy(bits.data(), &half, 4);
    std::memcpy(bits.data() + 4, &opaqueGreen, 4);
    QImage alpha = Read(Info(2, 1, 32), bits);
    ASSERT_FALSE(alpha.isNull());
    EXPECT_EQ(alpha.format(), QImage::Format_ARGB32);
    EXPECT_EQ(alpha.pixel(0, 0), qRgba(255, 0, 0, 128));
    // The fourth byte 0 everywhere: a picture written without alpha, shown opaque.
    const uint32_t red = 0x00FF0000, blue = 0x000000FF;
    std::memcpy(bits.data(), &red, 4);
    std::memcpy(bits.data() + 4, &blue, 4);
    QImage none = Read(Info(2, 1, 32), bits);
    ASSERT_FALSE(none.isNull());
    EXPECT_EQ(none.format(), QImage::Format_RGB32);
    EXPECT_EQ(none.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(none.pixel(1, 0), qRgb(0, 0, 255));
}

TEST(Dib, RefusesWhatItCannotReadSafely) {
    QString why;
    const QByteArray some(64, char(0));
    // The library's limits: 65,535 a side, 200 million pixels, checked before any allocation.
    EXPECT_TRUE(Read(Info(65536, 1, 24), some, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("picture too large"));
    EXPECT_TRUE(Read(Info(20000, 10001, 24), some, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("picture too large"));
    EXPECT_TRUE(Read(Info(10, INT_MIN, 24), some, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("picture too large"));
    EXPECT_TRUE(Read(Info(0, 10, 24), some, &why).isNull());
    EXPECT_TRUE(Read(Info(-4, 10, 24), some, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("empty picture"));
    // Fewer bits than the header promises.
    EXPECT_TRUE(
        Read(Info(10, 10, 24), QByteArray(int(Stride(10, 24)) * 10 - 1, char(0)), &why).isNull());
    EXPECT_EQ(why, QStringLiteral("fewer bits than the picture needs"));
    EXPECT_FALSE(Read(Info(10, 10, 24), QByteArray(int(Stride(10, 24)) * 10, char(0))).isNull());
    // Run-length compression, odd depths, and a header that claims to be larger than its block.
    EXPECT_TRUE(Read(Info(2, 2, 8, BI_RLE8), some, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("unsupported compression"));
    EXPECT_TRUE(Read(Info(2, 2, 12), some, &why).isNull());
    QByteArray big = Info(2, 2, 24);
    const uint32_t claimed = 4000;
    std::memcpy(big.data(), &claimed, 4);
    EXPECT_TRUE(Read(big, some, &why).isNull());
    EXPECT_EQ(why, QStringLiteral("bad header size"));
    EXPECT_TRUE(DibToImage(nullptr, 0, some.constData(), 64).isNull());
}

TEST(LocalMemory, BlocksKnowTheirSizeAndForeignPointersAreLeftAlone) {
    HLOCAL h = LocalAlloc(LMEM_ZEROINIT, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LocalSize(h), 100u);
    auto* p = static_cast<unsigned char*>(LocalLock(h));
    ASSERT_EQ(p, h);
    EXPECT_EQ(p[99], 0);
    EXPECT_FALSE(LocalUnlock(h)); // no longer locked
    EXPECT_EQ(LocalFree(h), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    // A pointer that is not a local-memory block: no size, no lock, not freed.
    auto* other = static_cast<unsigned char*>(calloc(1, 64));
    HLOCAL foreign = other + sizeof(SPI_LOCALHEADER);
    EXPECT_EQ(LocalSize(foreign), 0u);
    EXPECT_EQ(LocalLock(foreign), nullptr);
    EXPECT_EQ(LocalFree(foreign), foreign);
    free(other);
}
