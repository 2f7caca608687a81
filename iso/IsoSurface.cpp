// iso/IsoSurface.cpp: construction and parameter defaults of the isosurface.
#include "iso/IsoSurface.h"

IsoSurface::IsoSurface() : mesher(&field)
{
    resetIsoParams(*this);
    updateIso(*this, 0.0f);
    updateIso(*this, 1.0f);
}

void resetIsoParams(IsoSurface& iso)
{
    iso.timeMs = 0.0f;
    iso.flatColourMode = false;
    iso.textureSlot = 0;
    iso.materialMode = MATERIAL_MATTE;
    for (float& c : iso.specularColour)
        c = 1.0f;
    iso.alpha = 1.0f;
    iso.isoLevel = 10.0f;
    iso.negateSources = false;
    iso.placementMode = 0;
    iso.sourceCount = 0;
    iso.colourByPosition = false;
    iso.palette = 2;
}

void rebuildIsoMesh(IsoSurface& iso)
{
    runIsoPass(iso.mesher, iso.isoLevel);
}
