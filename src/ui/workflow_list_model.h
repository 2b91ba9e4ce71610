// The main window's list as a table model over the workflow table: one row
// per workflow in list order, five columns (name, type, source, state, run
// time), and the row's state under STATE_ROLE for the row painter.
//
// The model reads the table live on the UI thread, which alone changes it;
// refresh() tells the view that rows came or went and that every cell may
// have changed (states and run times move on their own).
#pragma once

#include <QAbstractTableModel>

#include "app/app_context.h"

// Item data role that carries a row's workflow state (absent: no workflow).
constexpr int STATE_ROLE = Qt::UserRole + 1;

class WorkflowListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit WorkflowListModel(AppContext& app, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void refresh();

  private:
    AppContext& app_;
    int rows_ = 0;
};
