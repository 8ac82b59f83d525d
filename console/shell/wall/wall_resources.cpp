#include "wall_resources.h"

#include <QtGlobal>

static void registerWall()
{
    Q_INIT_RESOURCE(wall);
}

void wallInitResources()
{
    static const bool s_done = (registerWall(), true);
    (void)s_done;
}
