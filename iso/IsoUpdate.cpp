// iso/IsoUpdate.cpp: the per-frame isosurface update.
#include "iso/IsoSurface.h"

void updateIso(IsoSurface& iso, float dtSeconds)
{
    iso.timeMs += dtSeconds * 1000.0f;
    // Particle balls and the procedural sources of the scene's placement mode
    // are placed here, before the mesh is rebuilt.
    rebuildIsoMesh(iso);
}
