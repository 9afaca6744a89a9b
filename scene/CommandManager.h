#pragma once
// The undo history: executes each new command and keeps the executed ones on
// the undo stack and the undone ones on the redo stack (top = front), without a
// depth limit. It owns every command on either stack and deletes it through its
// virtual destructor when it leaves the history. GUI thread only.
//
// Failure rule: an exception escaping a command's execute, undo or redo shows
// "Error. The Undo/Redo list has to be deleted. You cannot perform Undo/Redo
// now." once (critical, OK) through the scene host, logs the exception's text,
// deletes every command of both stacks and makes the operation return false.
#include <cstddef>
#include <deque>

class AbtCommand;

class CommandManager {
public:
    CommandManager() = default;
    CommandManager(const CommandManager&) = delete;
    CommandManager& operator=(const CommandManager&) = delete;
    // Deletes every command of both stacks.
    ~CommandManager();

    // Executes cmd; on success pushes it on the undo stack, deletes the redo
    // stack and returns true. False when cmd is null, its execute returned false
    // (stacks unchanged) or threw (failure rule). On false the manager does not
    // keep cmd: the caller deletes it.
    bool addCommand(AbtCommand* cmd);
    // One step back / forward; false when nothing was done (empty stack, or the
    // failure rule, which also deletes the failing command).
    bool undo();
    bool redo();
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // Deletes every command of the undo stack, then of the redo stack.
    void clear();

    std::size_t undoCount() const { return m_undo.size(); }
    std::size_t redoCount() const { return m_redo.size(); }
    // Top of each stack, null when empty (for tests and the menus).
    const AbtCommand* undoTop() const { return m_undo.empty() ? nullptr : m_undo.front(); }
    const AbtCommand* redoTop() const { return m_redo.empty() ? nullptr : m_redo.front(); }

private:
    enum class RunResult { Refused, Done, Threw };
    // Each runner calls one operation of cmd, catching every exception; the
    // state changes only when the operation returned normally.
    RunResult runExecute(AbtCommand* cmd);
    RunResult runUndo(AbtCommand* cmd);
    RunResult runRedo(AbtCommand* cmd);
    // Deletes the commands of one stack from the top down and empties it.
    static void clearStack(std::deque<AbtCommand*>& stack);
    // The failure rule; returns false.
    bool fail();

    std::deque<AbtCommand*> m_undo;
    std::deque<AbtCommand*> m_redo;
    bool m_failing = false;
};
