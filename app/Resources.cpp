#include "app/Constants.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be called outside any namespace.
static void initVelarResources() {
    Q_INIT_RESOURCE(velar);
}

void initResources() {
    static const bool done = (initVelarResources(), true);
    (void)done;
}
