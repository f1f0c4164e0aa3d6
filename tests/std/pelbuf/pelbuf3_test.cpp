#include <gtest/gtest.h>

#include <cstdint>

#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/startup.h"

namespace {

typedef ccPelBuffer<unsigned char> Plane;

TEST(ThreePlaneBuffer, TakesPlane0sPlacementAndHandsOutPlanesWithIt)
{
    ccStdPelbufStartup();
    Plane p[3] = {Plane(ccPelRect(10, 20, 640, 480), 4), Plane(640, 480, 4), Plane(640, 480, 4)};
    p[0].setWindow(5, 6, 100, 50, false);
    p[0].setLinearClientXform(cc2Xform(cc2Matrix(2, 0, 0, 2), cc2Vect(0, 0)));
    cc_PelRoot* roots[3] = {&p[0].root(), &p[1].root(), &p[2].root()};

    cc3PlanePelBuffer colour(p[0], p[1], p[2]);
    EXPECT_EQ(colour.colorSpace(), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(p[i].isBound());
        EXPECT_EQ(roots[i]->refCount(), 1) << i; // the reference moved to the colour root
    }
    EXPECT_EQ(colour.windowRect(), ccPelRect(5, 6, 100, 50));
    EXPECT_EQ(colour.window(), ccPelRect(15, 26, 100, 50));
    EXPECT_EQ(colour.linearClientXform().matrix().a(), 2.0);

    const Plane green = colour.plane(1);
    EXPECT_EQ(&green.root(), roots[1]);
    EXPECT_EQ(green.window(), colour.window());
    EXPECT_EQ(green.linearClientXform().matrix().a(), 2.0);
    for (int other : {-1, 3}) {
        const Plane none = colour.plane(other);
        EXPECT_FALSE(none.isBound());
        EXPECT_EQ(none.window(), ccPelRect(15, 26, none.windowRect().width(), none.windowRect().height()));
    }
    EXPECT_EQ(cc3PlanePelBuffer().plane(0).isBound(), false);
    EXPECT_EQ(cc3PlanePelBuffer().colorSpace(), 1);

    const cc3PlanePel empty = ccPelRoot<cc3PlanePel>().dataStart();
    for (uintptr_t i = 0; i < 3; ++i) // the plane numbers stand in for absent pels
        EXPECT_EQ(reinterpret_cast<uintptr_t>(empty.plane[i]), i);
}

} // namespace
