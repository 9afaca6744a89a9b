#include "scene/CommandManager.h"

#include "app/Log.h"
#include "scene/AbtCommand.h"
#include "scene/SceneHost.h"

#include <QObject>

#include <exception>

namespace {

void logCommandException(const char* what) {
    logText("Command failed with an exception: ", false);
    logText(what, true);
}

// Calls op on cmd; exceptions are caught and logged, and reported as Threw.
template <typename Op>
bool callGuarded(Op op) {
    try {
        op();
        return true;
    } catch (const std::exception& e) {
        logCommandException(e.what());
    } catch (...) {
        logCommandException("unknown exception");
    }
    return false;
}

} // namespace

CommandManager::~CommandManager() {
    clear();
}

CommandManager::RunResult CommandManager::runExecute(AbtCommand* cmd) {
    bool executed = false;
    if (!callGuarded([&] { executed = cmd->execute(); }))
        return RunResult::Threw;
    if (!executed)
        return RunResult::Refused;
    cmd->m_state = AbtCommand::Done;
    return RunResult::Done;
}

CommandManager::RunResult CommandManager::runUndo(AbtCommand* cmd) {
    if (!callGuarded([&] { cmd->undo(); }))
        return RunResult::Threw;
    cmd->m_state = AbtCommand::Undone;
    return RunResult::Done;
}

CommandManager::RunResult CommandManager::runRedo(AbtCommand* cmd) {
    if (!callGuarded([&] { cmd->redo(); }))
        return RunResult::Threw;
    cmd->m_state = AbtCommand::Done;
    return RunResult::Done;
}

void CommandManager::clearStack(std::deque<AbtCommand*>& stack) {
    // Taken out first so that a destructor that reaches the manager again sees
    // consistent (empty) stacks.
    std::deque<AbtCommand*> doomed;
    doomed.swap(stack);
    for (AbtCommand* cmd : doomed)
        delete cmd;
}

void CommandManager::clear() {
    clearStack(m_undo);
    clearStack(m_redo);
}

bool CommandManager::fail() {
    // The message box runs a local event loop; the history is emptied before
    // it so that nothing reached from that loop can use a command that is
    // about to go.
    clear();
    if (!m_failing) {
        m_failing = true;
        sceneHost()->showMessage(
            QObject::tr("Error. The Undo/Redo list has to be deleted. You cannot perform Undo/Redo now."),
            SceneMessage::Critical, SceneMessage::Ok, SceneMessage::Ok);
        m_failing = false;
    }
    return false;
}

bool CommandManager::addCommand(AbtCommand* cmd) {
    if (!cmd)
        return false;
    switch (runExecute(cmd)) {
    case RunResult::Refused:
        return false;
    case RunResult::Threw:
        return fail();
    case RunResult::Done:
        break;
    }
    clearStack(m_redo);
    m_undo.push_front(cmd);
    return true;
}

bool CommandManager::undo() {
    if (!canUndo())
        return false;
    AbtCommand* cmd = m_undo.front();
    if (runUndo(cmd) != RunResult::Done)
        return fail();
    m_undo.pop_front();
    m_redo.push_front(cmd);
    return true;
}

bool CommandManager::redo() {
    if (m_redo.empty())
        return false;
    AbtCommand* cmd = m_redo.front();
    if (runRedo(cmd) != RunResult::Done)
        return fail();
    m_redo.pop_front();
    m_undo.push_front(cmd);
    return true;
}
