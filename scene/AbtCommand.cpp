#include "scene/AbtCommand.h"

AbtCommand::~AbtCommand() = default;

void AbtCommand::redo() {
    execute();
}
