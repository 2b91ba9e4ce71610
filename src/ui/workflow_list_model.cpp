#include "ui/workflow_list_model.h"

#include "platform/time/clock.h"
#include "ui/presentation/main_view.h"

namespace {

const int COLUMN_COUNT = static_cast<int>(list_columns().size());

}  // namespace

WorkflowListModel::WorkflowListModel(AppContext& app, QObject* parent)
    : QAbstractTableModel(parent), app_(app), rows_(static_cast<int>(app.workflows.size())) {}

int WorkflowListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int WorkflowListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant WorkflowListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || static_cast<size_t>(index.row()) >= app_.workflows.size()) {
        return {};
    }
    Workflow& workflow = *app_.workflows[static_cast<size_t>(index.row())];
    const uint32_t state = workflow.state.load();
    if (role == STATE_ROLE) return state;
    if (role != Qt::DisplayRole) return {};
    return QString::fromStdString(list_cell_text(workflow, static_cast<size_t>(index.column()), tick_ms()));
}

QVariant WorkflowListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= COLUMN_COUNT) {
        return {};
    }
    return QString::fromUtf8(list_columns()[static_cast<size_t>(section)].title);
}

void WorkflowListModel::refresh() {
    const int count = static_cast<int>(app_.workflows.size());
    if (count < rows_) {
        beginRemoveRows({}, count, rows_ - 1);
        rows_ = count;
        endRemoveRows();
    } else if (count > rows_) {
        beginInsertRows({}, rows_, count - 1);
        rows_ = count;
        endInsertRows();
    }
    if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, COLUMN_COUNT - 1));
}
