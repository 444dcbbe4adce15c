#include "support.h"
namespace {
TEST(Roto, FastMatchesReference) {
    for (int i = 0; i < TEX_TEXELS; i++) { rbmp[i] = rand(); gbmp[i] = rand(); bbmp[i] = rand(); }
    TestSurface a, b;
    for (float angle : {0.f, 33.f, 90.f, -170.5f}) for (float zoom : {0.3f, 1.f, 3.f}) {
        rotozoomer(a.surface, angle, zoom);
        rotozoomerReference(b.surface, angle, zoom);
        ASSERT_EQ(a.memory, b.memory) << angle << " " << zoom;
    }
}
}
