#include "acq/image/acqimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "acq/image/startup.h"
#include "tests/support/fake_comm.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;
typedef std::vector<int64_t> Pels;
typedef ccPtrHandle<ccAcqImage> Image;

class AcqImage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ccAcqImageStartup(); }
};

int64_t valueOf(unsigned char p) { return p; }
int64_t valueOf(unsigned short p) { return p; }
int64_t valueOf(ccPackedRGB16Pel p) { return p.value; }
int64_t valueOf(ccPackedRGB32Pel p) { return p.value; }
void assign(unsigned char& p, int64_t v) { p = static_cast<unsigned char>(v); }
void assign(ccPackedRGB16Pel& p, int64_t v) { p.value = static_cast<uint16_t>(v); }
void assign(ccPackedRGB32Pel& p, int64_t v) { p.value = static_cast<uint32_t>(v); }

// The window's pels, row after row.
template <class T>
Pels pelsOf(const ccPelBuffer_const<T>& b)
{
    Pels out;
    const ccPelRect& w = b.windowRect();
    for (int64_t y = 0; y < w.height(); ++y)
        for (int64_t x = 0; x < w.width(); ++x)
            out.push_back(valueOf(b.windowStart()[y * b.typedRoot().stride() + x]));
    return out;
}

// A window of width x height pels inside a larger root whose other pels are
// 0xEE: the window starts 6 pels in (a multiple of every row unit) and one
// row down, at image coordinates (106, 201).
template <class T>
ccPelBuffer<T> framed(int32_t width, int32_t height, const std::function<int64_t(int64_t)>& pel)
{
    ccPelBuffer<T> b(ccPelRect(100, 200, width + 12, height + 2), 1);
    for (int32_t y = 0; y < height + 2; ++y)
        for (int32_t x = 0; x < width + 12; ++x) {
            const bool in = y >= 1 && y <= height && x >= 6 && x < width + 6;
            assign(b.windowStart()[y * b.typedRoot().stride() + x], in ? pel((y - 1) * width + x - 6) : 0xEEEEEEEE);
        }
    b.setWindow(6, 1, width, height, false);
    return b;
}

struct Expected {
    uint32_t code;
    int32_t width; // of the frame, in its own units
    Pels in;       // code 12: red, green, blue of each pel
    Pels grey8 = {}, grey16 = {}, red = {}, green = {}, blue = {}, rgb16 = {}, rgb32 = {};
    int32_t height() const { return static_cast<int32_t>(in.size()) / (width * (code == 12 ? 3 : 1)); }
};

Image imageOf(const Expected& e)
{
    const int32_t height = e.height();
    const auto pel = [&](int64_t i) { return e.in[i]; };
    switch (e.code) {
    case 3: return Image(new ccAcqImage(framed<ccPackedRGB16Pel>(e.width, height, pel)));
    case 4: return Image(new ccAcqImage(framed<ccPackedRGB32Pel>(e.width, height, pel)));
    case 12: {
        Buffer8 planes[3];
        for (int c = 0; c < 3; ++c)
            planes[c] = framed<unsigned char>(e.width, height, [&](int64_t i) { return e.in[3 * i + c]; });
        cc3PlanePelBuffer frame(planes[0], planes[1], planes[2]);
        frame.setLinearClientXform(cc2Xform(cc2Matrix(2, 0, 0, 2), cc2Vect(1, 1)));
        return Image(new ccAcqImage(frame));
    }
    default: return Image(new ccAcqImage(framed<unsigned char>(e.width, height, pel), e.code));
    }
}

TEST_F(AcqImage, EachFormatConvertsItsPelsIntoBuffersAtTheFramesWindowOffset)
{
    const Pels none;
    const Expected rows[] = {
        {1, 3, {0, 7, 0x84}, {0, 7, 0x84}, {0, 7, 0x84}, {0, 7, 0x84}, {0, 7, 0x84}, {0, 7, 0x84}, {0, 0x0020, 0x8430},
         {0, 0x070707, 0x848484}},
        {2, 4, {0x34, 0x12, 0xFF, 0xFF}, {0x12, 0xFF}, {0x1234, 0xFFFF}, {0x12, 0xFF}, {0x12, 0xFF}, {0x12, 0xFF}},
        // Stray bits above the pel's width saturate grey8.
        {13, 6, {0x04, 0x01, 0xFF, 0x03, 0x00, 0x04}, {65, 255, 255}, {0x104, 0x3FF, 0x400}},
        {18, 3, {0xAB, 0x21, 0xEF}, {0xAB, 0xEF}, {0x2AD, 0x3BE}, {0xAB, 0xEF}},
        {3, 2, {0xFFFF, 0x07E0}, {250, 126}, {250, 126}, {248, 0}, {252, 252}, {248, 0}, {0xFFFF, 0x07E0},
         {0xF8FCF8, 0x00FC00}},
        {4, 2, {0x09FF0000, 0xC8C8C8}, {76, 200}, none, {255, 200}, {0, 200}, {0, 200}, none,
         {0x09FF0000, 0xC8C8C8}},
        {12, 2, {255, 0, 0, 200, 200, 200}, {76, 200}, {76, 200}, {255, 200}, {0, 200}, {0, 200}, {0xF800, 0xCE59}},
        {5, 4, Pels(8, 100), Pels(8, 100), none, Pels(8, 100), Pels(8, 100), Pels(8, 100)},
        // Distinct channels, so that the planes' order shows: green 100 on the
        // diagonal, red 200 beside it in even rows, blue 30 in odd rows; grey
        // (77 R + 150 G + 29 B) >> 8. YCbCr: U 90, V 160 with Y 100 are
        // R 149, G 87, B 21 (grey 98); with Y 120, 172, 110, 44 (grey 121).
        {5, 4, {100, 200, 100, 200, 30, 100, 30, 100, 100, 200, 100, 200, 30, 100, 30, 100}, Pels(16, 122), none,
         Pels(16, 200), Pels(16, 100), Pels(16, 30)},
        {9, 3, {90, 100, 160}, {98}, none, {149}, {87}, {21}},
        {8, 4, {90, 100, 160, 120}, {98, 121}, none, {149, 172}, {87, 110}, {21, 44}},
        {7, 6, {90, 100, 100, 160, 100, 100}, Pels(4, 98), none, Pels(4, 149), Pels(4, 87), Pels(4, 21)},
        {7, 6, Pels(6, 128), Pels(4, 130), none, Pels(4, 130), Pels(4, 130), Pels(4, 130)},
        {8, 4, Pels(4, 128), Pels(2, 130), none, Pels(2, 130), Pels(2, 130), Pels(2, 130)},
        // A lone pel without its V byte has no colour: its grey. Then 16-bit big-endian grey.
        {8, 2, {0, 100}, {98}, none, {98}, {98}, {98}}, {16, 2, {0x12, 0x34}, {0x12}, {0x1234}, {0x12}},
        {9, 6, {128, 235, 128, 128, 16, 128}, {255, 0}, none, {255, 0}, {255, 0}, {255, 0}},
        {10, 3, {10, 20, 30}, {18}, {18}, {10}, {20}, {30}}, {15, 3, {30, 20, 10}, {18}, none, {10}, {20}, {30}},
        // Neutral pels keep their level.
        {11, 12, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 1, 0, 1}, {255, 1}, {65535, 256}, {255, 1}, {255, 1},
         {255, 1}},
        {11, 6, {0, 0x10, 0, 0, 0, 0}, {4}, {1224}, {0x10}, {0}, {0}},
    };
    for (const Expected& e : rows) {
        SCOPED_TRACE(::testing::Message() << "code " << e.code << " width " << e.width);
        const Image image = imageOf(e);
        ASSERT_TRUE(image->isValid() && image->format() == e.code);
        const int32_t h = e.height();
        const auto check = [&](const auto& b, const Pels& want) {
            EXPECT_TRUE(want.empty() || pelsOf(b) == want) << testing::PrintToString(pelsOf(b));
            EXPECT_TRUE(want.empty() || b.window() == ccPelRect(106, 201, int32_t(want.size()) / h, h));
        };
        check(image->grey8Buffer(), e.grey8);
        check(image->grey16Buffer(), e.grey16);
        const cc3PlanePelBuffer planes = image->planeBuffer();
        check(planes.plane(0), e.red);
        check(planes.plane(1), e.green);
        check(planes.plane(2), e.blue);
        check(image->rgb16Buffer(), e.rgb16);
        check(image->rgb32Buffer(), e.rgb32);
    }

    // Grey of three planes keeps their client transform.
    const Image planes = imageOf(*std::find_if(std::begin(rows), std::end(rows), [](auto& e) { return e.code == 12; }));
    EXPECT_EQ(planes->grey8Buffer().clientXform().xform().rawPointer(),
              planes->planeBuffer().clientXform().xform().rawPointer());
}

TEST_F(AcqImage, PackedGreyReadsOnlyItsWindowAndTheSharedByteBeforeAnOddStart)
{
    // Rows that end where their block ends, so that a read past one shows.
    const struct { int32_t x0, width; Pels grey16, grey8; } rows[] = {
        {0, 6, {0xABC, 0xEFD, 0x124, 0x563}, {0xAB, 0xEF, 0x12, 0x56}},
        {0, 4, {0xABC, 0xEFD}, {0xAB, 0xEF}}, // the last high byte's low bits are past the window
        {2, 4, {0xEFD, 0x124, 0x563}, {0xEF, 0x12, 0x56}}, // odd start: the low bits are byte 1
        {1, 5, {0xEFD, 0x124, 0x563}, {0xEF, 0x12, 0x56}},
        {4, 1, {}, {}},
    };
    std::vector<unsigned char> bytes{0xAB, 0xDC, 0xEF, 0x12, 0x34, 0x56};
    for (const auto& r : rows) {
        std::vector<unsigned char> block(bytes.begin(), bytes.begin() + r.x0 + r.width);
        Buffer8 frame(new ccPelRoot<unsigned char>(static_cast<int32_t>(block.size()), 1,
                                                   static_cast<int32_t>(block.size()), block.data(), 1));
        frame.setWindow(r.x0, 0, r.width, 1, false);
        const ccAcqImage image(frame, 19);
        EXPECT_EQ(pelsOf(image.grey16Buffer()), r.grey16) << "window at " << r.x0 << " of " << r.width;
        EXPECT_EQ(pelsOf(image.grey8Buffer()), r.grey8) << "window at " << r.x0 << " of " << r.width;
    }
}

// Raw widths must hold whole row units; codes without a class are refused.
// Then each code's bits per pel and colour class.
TEST_F(AcqImage, FormatCodesTheirClassesAndRawWidths)
{
    const struct { uint32_t code; int32_t width; bool refused; } rows[] = {
        {10, 1000, true}, {10, 999, false}, {9, 5, true}, {2, 3, true}, {5, 7, true},
        {7, 9, true},     {11, 8, true},    {1, 7, false}, {6, 7, false}, {18, 7, false}};
    for (const auto& r : rows) {
        const Buffer8 frame(r.width, 1, 1);
        try {
            const ccAcqImage image(frame, r.code);
            EXPECT_FALSE(r.refused) << r.code << " of " << r.width;
        } catch (const ccAcqImage::NotSupported& e) {
            EXPECT_TRUE(r.refused) << r.code << " of " << r.width;
            EXPECT_EQ(e.text(), L"Invalid Image Width");
            EXPECT_EQ(frame.rootRefCount(), 1);
        }
    }
    for (uint32_t code : {0u, 3u, 4u, 12u, 20u})
        EXPECT_THROW(ccAcqImage(Buffer8(6, 1, 1), code), ccAcqImage::NotSupported) << code;
    const uint32_t bits[20] = {8, 8, 16, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 10, 12, 8, 16, 14, 10, 12};
    for (uint32_t code = 0; code < 20; ++code) {
        const bool grey = code == 1 || code == 2 || code == 13 || code == 14 || code >= 17;
        EXPECT_TRUE(cc_AcqImage::bitsPerPel(code) == bits[code] && cc_AcqImage::isColorFormat(code) == !grey) << code;
    }
}

// Every conversion of an image, each giving the root of its result.
const std::function<const cc_PelRoot*(const ccAcqImage&)> kConversions[] = {
    [](const ccAcqImage& i) { return &i.grey8Buffer().root(); },
    [](const ccAcqImage& i) { return &i.grey16Buffer().root(); },
    [](const ccAcqImage& i) { return &i.planeBuffer().root(); },
    [](const ccAcqImage& i) { return &i.rgb16Buffer().root(); },
    [](const ccAcqImage& i) { return &i.rgb32Buffer().root(); },
};

// A three-plane root at the module, as a module frame arrives (without planes
// here).
class Remote3PlaneRoot : public ccPelRoot<cc3PlanePel> {
public:
    explicit Remote3PlaneRoot(ccRPCDestination at) { destination_ = at; }
};

TEST_F(AcqImage, RemoteFramesAreHandedOutOnlyAsTheirOwnStorageBayer16NotAtAllAndNoFrameAsUnbound)
{
    test_comm::Communicator module;
    module.closed = true;
    const ccRPCDestination at = module.destination();
    const auto remote8 = [&] { return Buffer8(new ccPelRoot<unsigned char>(at, 1, 4, 2)); };
    enum { none = -1, unbound = -2, local = -3 };
    // own: the conversion that gives the frame itself, or what they all give;
    // bit c of convertible: it converts to code c.
    const struct { ccAcqImage* image; int own; uint32_t convertible; } rows[] = {
        {new ccAcqImage(remote8(), 1), 0, 1 << 1},
        {new ccAcqImage(remote8(), 2), none, 1 << 2}, // no 16-bit pels here to hand out
        {new ccAcqImage(remote8(), 5), none, 1 << 5},
        {new ccAcqImage(ccPelBuffer<ccPackedRGB16Pel>(new ccPelRoot<ccPackedRGB16Pel>(at, 2, 4, 2))), 3, 1 << 3},
        {new ccAcqImage(ccPelBuffer<ccPackedRGB32Pel>(new ccPelRoot<ccPackedRGB32Pel>(at, 3, 4, 2))), 4, 1 << 4},
        {new ccAcqImage(cc3PlanePelBuffer(new Remote3PlaneRoot(at))), 2, 1 << 12},
        {new ccAcqImage(Buffer8(4, 2, 1), 6), none, 1 << 6},
        {new ccAcqImage(Buffer8(4, 2, 1), 5), local, 1 << 1 | 1 << 2 | 1 << 3 | 1 << 4 | 1 << 5 | 1 << 12},
        {new ccAcqImage(Buffer8(), 6), unbound, (1 << 21) - 1},
        {new ccAcqImage(), unbound, 0},
    };
    EXPECT_EQ(rows[9].image->rawBuffer(), nullptr);
    for (const auto& r : rows) {
        const Image image(r.image);
        SCOPED_TRACE(::testing::Message() << "code " << image->format() << ", " << r.own);
        for (uint32_t code = 0; code <= 20; ++code)
            EXPECT_EQ(image->canConvertTo(code), bool(r.convertible >> code & 1)) << code;
        EXPECT_EQ(image->isValid(), r.own != unbound);
        for (int i = 0; i < 5 && r.own != local; ++i) {
            if (r.own == unbound)
                EXPECT_THROW(kConversions[i](*image), ccPel::UnboundWindow) << i;
            else if (i == r.own)
                EXPECT_EQ(kConversions[i](*image), &image->rawBuffer()->root());
            else
                EXPECT_THROW(kConversions[i](*image), ccAcqImage::NotSupported) << i;
        }
    }
}

} // namespace
