// model/ActorsDraw.cpp: the GL side of the actor scene. Each actor is placed
// at its position, turned by its heading about the vertical axis, and its
// studio model drawn z-up (turned -90 degrees about x) in its current
// sequence and animation time, with the actor's alpha as material alpha.
#include "model/Actors.h"

#include "gl/GL.h"
#include "model/hl.h"

#include <algorithm>

namespace {

// The shared white material colour; its alpha is the drawn actor's.
float materialWhite[4] = { 1.0f, 1.0f, 1.0f, 1.0f };

} // namespace

void drawActorModel(ActorScene& scene, int actorIndex)
{
    if (actorIndex < 0 || actorIndex >= MAX_ACTORS)
        return;
    const Actor& actor = scene.actors[actorIndex];
    materialWhite[3] = actor.alpha;

    glPushMatrix();
    glTranslatef(actor.position.x, actor.position.y, actor.position.z);
    glRotatef(actor.heading, 0.0f, 1.0f, 0.0f);
    StudioModel* model = actor.modelKind == MODEL_KIND_STUDIO ? scene.modelOf(actorIndex) : nullptr;
    if (model) {
        glEnable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glPushMatrix();
        glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);   // model z is up
        model->selectSequence(actor.runningAction());
        model->stepAnimation(actor.animClock);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, materialWhite);
        model->render();
        glPopMatrix();
        glDisable(GL_BLEND);
    }
    glPopMatrix();
}

void drawAllActors(ActorScene& scene)
{
    const int count = std::min(scene.actorCount, MAX_ACTORS);
    for (int i = 0; i < count; ++i)
        drawActorModel(scene, i);
}
