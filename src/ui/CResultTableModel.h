// The result table over the row index: one row per visible hit, names from the index, paths and
// records read from the engine only for the rows that are shown.
#pragma once

#include "engine/IFileRecoveryParse.h"
#include "ui/CResultRowIndex.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QString>

class CResultTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The raw value of a cell, for sorting and tests: size, seconds, state, engine kind.
    static constexpr int RAW_VALUE_ROLE = Qt::UserRole + 1;

    // The engine must outlive the model; the index is the model's from here on.
    CResultTableModel(IFileRecoveryParse* pEngine, CResultRowIndex index,
                      QObject* pParent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A tick on the name cell changes the selection.
    bool setData(const QModelIndex& index, const QVariant& value, int nRole) override;
    void sort(int nColumn, Qt::SortOrder order) override;

    void SetFilter(const RESULT_FILTER& filter);
    // Ticks every row of a category (-1: all) or one extension of it.
    void SetKindTicked(int nCategory, int nExtensionId, bool bTicked);
    void SetRowsTicked(const std::vector<uint32_t>& vecRows, bool bTicked);
    const CResultRowIndex& GetIndex() const { return m_index; }
    // The index row shown at a table row.
    uint32_t RowAt(int nTableRow) const {
        return m_index.GetVisibleRow(static_cast<uint32_t>(nTableRow));
    }
    // The whole record of an index row, from the engine; 0 or its error.
    int ReadNode(uint32_t nRow, FILE_NODE& node) const;
    // "a/b/" of an index row; empty for carved files and at the top level.
    QString GetParentPath(uint32_t nRow) const;
    // The same of a record, asked of the engine.
    static QString ReadParentPath(IFileRecoveryParse* pEngine, FILE_NODE& node);
    // While another thread works with the engine, paths not read yet show empty.
    void SetEngineBusy(bool bBusy) { m_bEngineBusy = bBusy; }

    static QString StateText(RESULT_STATE state);
    static QString EngineText(uint32_t nEngineType);

signals:
    // The selection changed; boxes and the summary are redrawn from the index.
    void TicksChanged();

private:
    QVariant DisplayText(uint32_t nRow, int nColumn) const;
    void NotifyAllTicks();

    IFileRecoveryParse* m_pEngine;
    CResultRowIndex m_index;
    mutable QCache<uint32_t, QString> m_cachePaths;
    bool m_bEngineBusy = false;
};
