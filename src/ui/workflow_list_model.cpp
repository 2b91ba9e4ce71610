#include "ui/workflow_list_model.h"

#include <iterator>

#include "platform/time/clock.h"
#include "ui/main_window.h"

namespace {

struct ColumnSpec {
    const char* title;
    int width;
};
constexpr ColumnSpec COLUMNS[] = {{"Name", 240}, {"Type", 130}, {"Source", 100}, {"Status", 150}, {"Runtime", 110}};
constexpr int COLUMN_COUNT = static_cast<int>(std::size(COLUMNS));

}  // namespace

WorkflowListModel::WorkflowListModel(AppContext& app, QObject* parent)
    : QAbstractTableModel(parent), app_(app), rows_(static_cast<int>(app.workflows.size())) {}

int WorkflowListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int WorkflowListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

int WorkflowListModel::column_width(int column) {
    return COLUMNS[column].width;
}

QVariant WorkflowListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || static_cast<size_t>(index.row()) >= app_.workflows.size()) {
        return {};
    }
    Workflow& workflow = *app_.workflows[static_cast<size_t>(index.row())];
    const uint32_t state = workflow.state.load();
    if (role == STATE_ROLE) return state;
    if (role != Qt::DisplayRole) return {};
    const WorkflowSettings& settings = workflow.settings;  // only this thread writes them
    switch (index.column()) {
        case 0:
            return QString::fromStdString(settings.name);
        case 1:
            return QString::fromUtf8(workflow_type_list_name(settings.type));
        case 2:
            return QString::fromUtf8(workflow_source_column(settings.type, settings.source_type));
        case 3:
            return QString::fromUtf8(workflow_state_name(state));
        default:
            return format_runtime(workflow.start_tick.load(), tick_ms());
    }
}

QVariant WorkflowListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= COLUMN_COUNT) {
        return {};
    }
    return QString::fromUtf8(COLUMNS[section].title);
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
