#include "scene/SceneHost.h"

#include "app/Log.h"
#include "app/PrinterVolume.h"
#include "scene/AbtCommand.h"
#include "scene/CommandManager.h"

#include <atomic>

SceneHost::~SceneHost() = default;

BasicSceneHost::BasicSceneHost() : m_commands(std::make_unique<CommandManager>()) {}

BasicSceneHost::~BasicSceneHost() = default;

bool BasicSceneHost::pushCommand(AbtCommand* cmd, bool repaint) {
    if (m_commands->addCommand(cmd)) {
        if (repaint)
            updateGLView();
        return true;
    }
    delete cmd;
    return false;
}

CommandManager* BasicSceneHost::commandManager() {
    return m_commands.get();
}

int BasicSceneHost::showMessage(const QString& text, int, int, int defaultButton) {
    logText("MESSAGE: ", false);
    logString(text.toStdString(), true);
    return defaultButton != 0 ? defaultButton : SceneMessage::Ok;
}

void BasicSceneHost::getBuildVolume(double out[3]) {
    currentBuildVolume(out);
}

void BasicSceneHost::viewAxis(double out[3]) {
    out[0] = 0.0;
    out[1] = 0.0;
    out[2] = -1.0;
}

namespace {
std::atomic<SceneHost*> g_installedHost{nullptr};
} // namespace

SceneHost* sceneHost() {
    if (SceneHost* host = g_installedHost.load())
        return host;
    // Built on first use; lives as long as the process (commands it holds may
    // refer to the object list, which is never destroyed either).
    static BasicSceneHost* fallback = new BasicSceneHost();
    return fallback;
}

void setSceneHost(SceneHost* host) {
    g_installedHost.store(host);
}
