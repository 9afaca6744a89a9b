#pragma once
// Base of every change of the scene that the user can take back. A command is
// built with state 0, handed to SceneHost::pushCommand (MainWindow::pushCommand),
// executed once by CommandManager::addCommand and, when kept, moves between the
// undo stack (state 1) and the redo stack (state 2) until the manager deletes it.
// Only the manager's runners change the state. A command's destructor decides
// by its state which scene objects it still owns and deletes them.

class AbtCommand {
public:
    enum State { New = 0, Done = 1, Undone = 2 };

    AbtCommand() = default;
    AbtCommand(const AbtCommand&) = delete;
    AbtCommand& operator=(const AbtCommand&) = delete;
    virtual ~AbtCommand();

    // Performs the change. False means nothing was done: the command is not kept
    // (the requester has told the user why, if at all).
    virtual bool execute() = 0;
    // Takes the change back.
    virtual void undo() = 0;
    // Does the change again; the default executes again.
    virtual void redo();

    int state() const { return m_state; }

private:
    friend class CommandManager;
    int m_state = New;
};
