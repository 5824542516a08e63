// Cells of the result table and the hand-over of sort and filter to the row index.
#include "ui/CResultTableModel.h"

#include "ui/FileTypeIcon.h"
#include "util/TextUtil.h"

#include <QDateTime>
#include <QIcon>

namespace {

constexpr int PATH_CACHE_ROWS = 4096;
constexpr int PARENT_PATH_UNITS = 4096;
const char* const DATE_FORMAT = "yyyy-MM-dd hh:mm";

} // namespace

CResultTableModel::CResultTableModel(IFileRecoveryParse* pEngine, CResultRowIndex index,
                                     QObject* pParent)
    : QAbstractTableModel(pParent), m_pEngine(pEngine), m_index(std::move(index)),
      m_cachePaths(PATH_CACHE_ROWS) {}

int CResultTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_index.GetVisibleCount());
}

int CResultTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QString CResultTableModel::StateText(RESULT_STATE state) {
    switch (state) {
    case RESULT_STATE::Deleted:
        return "Deleted";
    case RESULT_STATE::Damaged:
        return "Damaged";
    default:
        return "Present";
    }
}

QString CResultTableModel::EngineText(uint32_t nEngineType) {
    static const char* const NAMES[] = {"NTFS",   "FAT",   "NTFS (deep)", "FAT (deep)",
                                        "Carved", "exFAT", "exFAT (deep)"};
    return nEngineType < std::size(NAMES) ? NAMES[nEngineType] : "Unknown";
}

int CResultTableModel::ReadNode(uint32_t nRow, FILE_NODE& node) const {
    const RESULT_ROW& row = m_index.GetRow(nRow);
    if (m_pEngine == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_pEngine->GetFileNodeByIndex(row.nEngineType, row.nFileIndex, &node);
}

QString CResultTableModel::GetParentPath(uint32_t nRow) const {
    if (m_index.GetRow(nRow).nEngineType == ENGINE_FILE_TYPE)
        return QString();
    if (QString* pCached = m_cachePaths.object(nRow))
        return *pCached;
    if (m_bEngineBusy)
        return QString();
    QString strPath;
    FILE_NODE node;
    if (ReadNode(nRow, node) == 0)
        strPath = ReadParentPath(m_pEngine, node);
    m_cachePaths.insert(nRow, new QString(strPath));
    return strPath;
}

QString CResultTableModel::ReadParentPath(IFileRecoveryParse* pEngine, FILE_NODE& node) {
    std::u16string strUnits(PARENT_PATH_UNITS, u'\0');
    if (pEngine->GetFileNodeParentDirPath(&node, strUnits.data(), PARENT_PATH_UNITS) != 0)
        return QString();
    return QString::fromUtf16(strUnits.c_str());
}

QVariant CResultTableModel::DisplayText(uint32_t nRow, int nColumn) const {
    const RESULT_ROW& row = m_index.GetRow(nRow);
    switch (nColumn) {
    case COLUMN_NAME:
        return QString::fromUtf8(m_index.GetName(nRow));
    case COLUMN_SIZE:
        return QString::fromStdString(GetFileSizeString(static_cast<long long>(row.u64FileSize)));
    case COLUMN_MODIFIED:
        return row.i64ModifySeconds == 0
                   ? QString()
                   : QDateTime::fromSecsSinceEpoch(row.i64ModifySeconds).toString(DATE_FORMAT);
    case COLUMN_PATH:
        return GetParentPath(nRow);
    case COLUMN_STATE:
        return StateText(row.state);
    default:
        return EngineText(row.nEngineType);
    }
}

QVariant CResultTableModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    uint32_t nRow = RowAt(index.row());
    const RESULT_ROW& row = m_index.GetRow(nRow);
    if (nRole == Qt::DisplayRole)
        return DisplayText(nRow, index.column());
    if (nRole == Qt::CheckStateRole && index.column() == COLUMN_NAME)
        return m_index.IsTicked(nRow) ? Qt::Checked : Qt::Unchecked;
    if (nRole == Qt::DecorationRole && index.column() == COLUMN_NAME)
        return QIcon(GetExtendNameIcon(GetExtensionKey(m_index.GetName(nRow))));
    if (nRole == RAW_VALUE_ROLE) {
        switch (index.column()) {
        case COLUMN_SIZE:
            return QVariant::fromValue<qulonglong>(row.u64FileSize);
        case COLUMN_MODIFIED:
            return QVariant::fromValue<qlonglong>(row.i64ModifySeconds);
        case COLUMN_STATE:
            return static_cast<int>(row.state);
        case COLUMN_ENGINE:
            return row.nEngineType;
        default:
            return DisplayText(nRow, index.column());
        }
    }
    return QVariant();
}

QVariant CResultTableModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    static const char* const TITLES[COLUMN_COUNT] = {"Name",          "Size",  "Modified",
                                                     "Original path", "State", "Found by"};
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole || nSection < 0 ||
        nSection >= COLUMN_COUNT)
        return QVariant();
    return QString(TITLES[nSection]);
}

void CResultTableModel::sort(int nColumn, Qt::SortOrder order) {
    beginResetModel();
    m_index.Sort(static_cast<RESULT_COLUMN>(nColumn), order == Qt::DescendingOrder,
                 [this](uint32_t nRow) { return GetParentPath(nRow).toStdString(); });
    endResetModel();
}

void CResultTableModel::SetFilter(const RESULT_FILTER& filter) {
    beginResetModel();
    m_index.SetFilter(filter);
    endResetModel();
}

Qt::ItemFlags CResultTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.column() == COLUMN_NAME ? flags | Qt::ItemIsUserCheckable : flags;
}

bool CResultTableModel::setData(const QModelIndex& index, const QVariant& value, int nRole) {
    if (!index.isValid() || nRole != Qt::CheckStateRole || index.column() != COLUMN_NAME)
        return false;
    m_index.SetTicked(RowAt(index.row()), value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit TicksChanged();
    return true;
}

void CResultTableModel::SetKindTicked(int nCategory, int nExtensionId, bool bTicked) {
    m_index.SetKindTicked(nCategory, nExtensionId, bTicked);
    NotifyAllTicks();
}

void CResultTableModel::SetRowsTicked(const std::vector<uint32_t>& vecRows, bool bTicked) {
    for (uint32_t nRow : vecRows)
        m_index.SetTicked(nRow, bTicked);
    NotifyAllTicks();
}

void CResultTableModel::NotifyAllTicks() {
    if (rowCount() > 0)
        emit dataChanged(index(0, COLUMN_NAME), index(rowCount() - 1, COLUMN_NAME),
                         {Qt::CheckStateRole});
    emit TicksChanged();
}
