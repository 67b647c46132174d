#include "gui/tree/UndoCommands.h"

#include "gui/common/Codec.h"

namespace qv {

QString stepName(const EditStep &step)
{
    const char16_t *name = u"";
    switch (step.kind()) {
    case EditStep::Kind::CreateNode:
        name = u"создание узла";
        break;
    case EditStep::Kind::CreateChild:
        name = u"создание потомка";
        break;
    case EditStep::Kind::Delete:
        name = u"удаление";
        break;
    case EditStep::Kind::Rename:
        name = u"переименование";
        break;
    case EditStep::Kind::Icon:
        name = u"смена значка";
        break;
    case EditStep::Kind::MoveUp:
        name = u"перемещение вверх";
        break;
    case EditStep::Kind::MoveDown:
        name = u"перемещение вниз";
        break;
    case EditStep::Kind::DragMove:
        name = u"перетаскивание";
        break;
    case EditStep::Kind::Import:
        name = u"импорт";
        break;
    }
    return QString::fromUtf16(name) + QStringLiteral(u" «") + toQ(step.caption()) + QStringLiteral(u"»");
}

StepCommand::StepCommand(Catalog &catalog, std::unique_ptr<EditStep> step, Select select)
    : catalog_(catalog), step_(std::move(step)), select_(std::move(select))
{
    setText(stepName(*step_));
}

void StepCommand::undo()
{
    step_->undo(catalog_);
    if (select_)
        select_(step_->selectionBefore());
}

void StepCommand::redo()
{
    // The command ran the step before it was pushed.
    if (applied_) {
        applied_ = false;
        return;
    }
    step_->redo(catalog_);
    if (select_)
        select_(step_->selectionAfter());
}

} // namespace qv
