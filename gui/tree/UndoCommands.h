// The outline's undo history: each tree command's step wrapped as a
// QUndoCommand for the tree pane's undo stack.
#pragma once

#include "catalog/EditSteps.h"

#include <QString>
#include <QUndoCommand>

#include <functional>
#include <memory>

namespace qv {

// The step's name in the undo and redo items, e.g. "удаление «Имя»".
QString stepName(const EditStep &step);

// A step that has already run: the stack's first redo() (on push) does
// nothing, later ones make the step again. After each undo or redo the node
// the step names is selected through `select`.
class StepCommand : public QUndoCommand {
public:
    using Select = std::function<void(const RowPath &)>;

    StepCommand(Catalog &catalog, std::unique_ptr<EditStep> step, Select select);

    const EditStep &step() const { return *step_; }

    void undo() override;
    void redo() override;

private:
    Catalog &catalog_;
    std::unique_ptr<EditStep> step_;
    Select select_;
    bool applied_ = true;
};

} // namespace qv
