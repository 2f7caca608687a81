// tests/iso_surface_test.cpp: the isosurface object's defaults, construction
// and update.
#include "iso/IsoSurface.h"

#include <gtest/gtest.h>

#include <memory>

TEST(IsoSurface, ConstructionSetsDefaultsAndRunsTwoUpdates)
{
    auto iso = std::make_unique<IsoSurface>();
    EXPECT_EQ(iso->timeMs, 1000.0f);    // updates with 0 s, then 1.0 s
    EXPECT_EQ(iso->mesher.stamp, 2);    // one pass per update
    EXPECT_EQ(iso->mesher.field, &iso->field);
    EXPECT_EQ(iso->mesher.current, 0);
    EXPECT_TRUE(iso->mesher.meshes[0].vertices.empty());
    EXPECT_FALSE(iso->flatColourMode);
    EXPECT_EQ(iso->textureSlot, 0);
    EXPECT_EQ(iso->materialMode, MATERIAL_MATTE);
    for (float c : iso->specularColour)
        EXPECT_EQ(c, 1.0f);
    EXPECT_EQ(iso->alpha, 1.0f);
    EXPECT_EQ(iso->isoLevel, 10.0f);
    EXPECT_FALSE(iso->negateSources);
    EXPECT_EQ(iso->placementMode, 0);
    EXPECT_EQ(iso->sourceCount, 0);
    EXPECT_FALSE(iso->colourByPosition);
    EXPECT_EQ(iso->palette, 2);
    EXPECT_EQ(iso->field.gridMin, 0);
    EXPECT_EQ(iso->field.gridMax, GRID_SIZE);
    EXPECT_EQ(FLAT_COLOUR.x + FLAT_COLOUR.y + FLAT_COLOUR.z, 0.0f);
}

TEST(IsoSurface, ResetRestoresTheParametersButNotTheSources)
{
    auto iso = std::make_unique<IsoSurface>();
    placeBall(iso->field, 0, makeBall(Float3(32, 32, 32), Float3(1, 0, 0), 20.0f, 8.0f));
    iso->timeMs = 5.0f;
    iso->textureSlot = 4;
    iso->materialMode = 2;
    iso->specularColour[1] = 0.25f;
    iso->alpha = 0.5f;
    iso->isoLevel = 3.0f;
    iso->negateSources = true;
    iso->placementMode = 6;
    iso->sourceCount = 9;
    iso->colourByPosition = true;
    iso->palette = 11;
    resetIsoParams(*iso);
    EXPECT_EQ(iso->timeMs, 0.0f);
    EXPECT_EQ(iso->textureSlot, 0);
    EXPECT_EQ(iso->materialMode, 0);
    EXPECT_EQ(iso->specularColour[1], 1.0f);
    EXPECT_EQ(iso->alpha, 1.0f);
    EXPECT_EQ(iso->isoLevel, 10.0f);
    EXPECT_FALSE(iso->negateSources);
    EXPECT_EQ(iso->placementMode, 0);
    EXPECT_EQ(iso->sourceCount, 0);
    EXPECT_FALSE(iso->colourByPosition);
    EXPECT_EQ(iso->palette, 2);
    EXPECT_TRUE(iso->field.balls[0].enabled);
}

TEST(IsoSurface, UpdateAdvancesTheClockAndRebuildsAtTheIsoLevel)
{
    auto iso = std::make_unique<IsoSurface>();
    placeBall(iso->field, 0, makeBall(Float3(32, 32, 32), Float3(1, 0, 0), 20.0f, 8.0f));
    updateIso(*iso, 0.25f);
    EXPECT_EQ(iso->timeMs, 1250.0f);
    const size_t atTen = iso->mesher.meshes[0].vertices.size();
    EXPECT_GT(atTen, 0u);
    updateIso(*iso, 0.0f);   // unchanged sources: the same mesh
    EXPECT_EQ(iso->mesher.meshes[0].vertices.size(), atTen);
    iso->isoLevel = 5.0f;    // a lower level: a larger sphere
    rebuildIsoMesh(*iso);
    EXPECT_GT(iso->mesher.meshes[0].vertices.size(), atTen);
    iso->isoLevel = 25.0f;   // above the peak: nothing
    rebuildIsoMesh(*iso);
    EXPECT_TRUE(iso->mesher.meshes[0].vertices.empty());
}

TEST(IsoSurface, GlobalInstanceIsBuiltBeforeMain)
{
    EXPECT_EQ(isoSurface.mesher.field, &isoSurface.field);
    EXPECT_GE(isoSurface.mesher.stamp, 2);
}
