// Building the folder tree of the hits and showing it with tri-state ticks.
#include "ui/CResultFolderModel.h"

#include "ui/FileTypeIcon.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

#include <algorithm>
#include <strings.h>

namespace {

const char* const CARVED_FOLDER = "Carved files";

} // namespace

CResultFolderModel::CResultFolderModel(CResultTableModel& table, QObject* pParent)
    : QAbstractItemModel(pParent), m_table(table) {
    m_vecFolders.push_back(FOLDER{std::string(), ROOT, 0, {}, {}});
    const CResultRowIndex& rows = m_table.GetIndex();
    m_vecFolderOfRow.resize(rows.GetRowCount());
    for (uint32_t nRow = 0; nRow < rows.GetRowCount(); ++nRow) {
        uint32_t nFolder = FolderOfPath(GetTreePath(nRow));
        m_vecFolders[nFolder].vecRows.push_back(nRow); // rows come in name order
        m_vecFolderOfRow[nRow] = nFolder;
    }
    SortFolders(ROOT);
    // Every shown box is asked again; the ticks live in the row index alone.
    connect(&m_table, &CResultTableModel::TicksChanged, this, [this] {
        emit layoutAboutToBeChanged();
        emit layoutChanged();
    });
}

std::string CResultFolderModel::MakeTreePath(uint32_t nEngineType, int nCategory,
                                             const std::string& strParentPath) {
    if (nEngineType == ENGINE_FILE_TYPE)
        return std::string(CARVED_FOLDER) + "/" +
               GetCategoryName(static_cast<FileCategory>(nCategory)) + "/";
    return strParentPath;
}

std::string CResultFolderModel::GetTreePath(uint32_t nRow) const {
    const CResultRowIndex& rows = m_table.GetIndex();
    const RESULT_ROW& row = rows.GetRow(nRow);
    return MakeTreePath(row.nEngineType, rows.GetExtensionCategory(row.nExtensionId),
                        m_table.GetParentPath(nRow).toStdString());
}

uint32_t CResultFolderModel::ChildFolder(uint32_t nParent, const std::string& strName) {
    for (uint32_t nChild : m_vecFolders[nParent].vecFolders)
        if (m_vecFolders[nChild].strName == strName)
            return nChild;
    uint32_t nChild = static_cast<uint32_t>(m_vecFolders.size());
    m_vecFolders.push_back(FOLDER{strName, nParent, 0, {}, {}});
    m_vecFolders[nParent].vecFolders.push_back(nChild);
    return nChild;
}

uint32_t CResultFolderModel::FolderOfPath(const std::string& strPath) {
    uint32_t nFolder = ROOT;
    size_t nStart = 0;
    while (nStart < strPath.size()) {
        size_t nEnd = strPath.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        if (nEnd > nStart)
            nFolder = ChildFolder(nFolder, strPath.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return nFolder;
}

void CResultFolderModel::SortFolders(uint32_t nFolder) {
    std::vector<uint32_t>& vecChildren = m_vecFolders[nFolder].vecFolders;
    std::sort(vecChildren.begin(), vecChildren.end(), [this](uint32_t a, uint32_t b) {
        return strcasecmp(m_vecFolders[a].strName.c_str(), m_vecFolders[b].strName.c_str()) < 0;
    });
    for (uint32_t i = 0; i < vecChildren.size(); ++i) {
        m_vecFolders[vecChildren[i]].nPosition = i;
        SortFolders(vecChildren[i]);
    }
}

long long CResultFolderModel::RowOf(const QModelIndex& index) const {
    if (!index.isValid() || (index.internalId() & FILE_FLAG) == 0)
        return -1;
    const FOLDER& folder = m_vecFolders[FolderOfId(index.internalId())];
    return folder.vecRows[static_cast<size_t>(index.row()) - folder.vecFolders.size()];
}

QModelIndex CResultFolderModel::index(int nRow, int nColumn, const QModelIndex& parent) const {
    if (nRow < 0 || nColumn < 0 || nColumn >= FOLDER_COLUMN_COUNT || nRow >= rowCount(parent))
        return QModelIndex();
    uint32_t nFolder = parent.isValid() ? static_cast<uint32_t>(parent.internalId()) : ROOT;
    const FOLDER& folder = m_vecFolders[nFolder];
    if (static_cast<size_t>(nRow) < folder.vecFolders.size())
        return createIndex(nRow, nColumn, quintptr(folder.vecFolders[nRow]));
    return createIndex(nRow, nColumn, FILE_FLAG | quintptr(nFolder) << 32);
}

QModelIndex CResultFolderModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return QModelIndex();
    uint32_t nParent = (child.internalId() & FILE_FLAG) != 0
                           ? FolderOfId(child.internalId())
                           : m_vecFolders[static_cast<uint32_t>(child.internalId())].nParent;
    if (nParent == ROOT)
        return QModelIndex();
    return createIndex(static_cast<int>(m_vecFolders[nParent].nPosition), 0, quintptr(nParent));
}

int CResultFolderModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && ((parent.internalId() & FILE_FLAG) != 0 || parent.column() != 0))
        return 0;
    const FOLDER& folder =
        m_vecFolders[parent.isValid() ? static_cast<uint32_t>(parent.internalId()) : ROOT];
    return static_cast<int>(folder.vecFolders.size() + folder.vecRows.size());
}

int CResultFolderModel::columnCount(const QModelIndex&) const {
    return FOLDER_COLUMN_COUNT;
}

void CResultFolderModel::CountTicks(uint32_t nFolder, uint64_t& u64Ticked, uint64_t& u64All) const {
    const FOLDER& folder = m_vecFolders[nFolder];
    for (uint32_t nRow : folder.vecRows)
        u64Ticked += m_table.GetIndex().IsTicked(nRow) ? 1 : 0;
    u64All += folder.vecRows.size();
    for (uint32_t nChild : folder.vecFolders)
        CountTicks(nChild, u64Ticked, u64All);
}

QVariant CResultFolderModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid())
        return QVariant();
    long long llRow = RowOf(index);
    if (llRow >= 0) {
        const CResultRowIndex& rows = m_table.GetIndex();
        uint32_t nRow = static_cast<uint32_t>(llRow);
        if (nRole == Qt::CheckStateRole && index.column() == 0)
            return rows.IsTicked(nRow) ? Qt::Checked : Qt::Unchecked;
        if (nRole == Qt::DecorationRole && index.column() == 0)
            return QIcon(GetExtendNameIcon(GetExtensionKey(rows.GetName(nRow))));
        if (nRole != Qt::DisplayRole)
            return QVariant();
        return index.column() == 0 ? QString::fromUtf8(rows.GetName(nRow))
                                   : QString::fromStdString(GetFileSizeString(
                                         static_cast<long long>(rows.GetRow(nRow).u64FileSize)));
    }
    uint32_t nFolder = static_cast<uint32_t>(index.internalId());
    if (nRole == Qt::DisplayRole && index.column() == 0)
        return QString::fromUtf8(m_vecFolders[nFolder].strName.c_str());
    if (nRole == Qt::DecorationRole && index.column() == 0)
        return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    if (nRole == Qt::CheckStateRole && index.column() == 0) {
        uint64_t u64Ticked = 0, u64All = 0;
        CountTicks(nFolder, u64Ticked, u64All);
        return u64Ticked == 0 ? Qt::Unchecked
                              : (u64Ticked == u64All ? Qt::Checked : Qt::PartiallyChecked);
    }
    return QVariant();
}

QVariant CResultFolderModel::headerData(int nSection, Qt::Orientation orientation,
                                        int nRole) const {
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole)
        return QVariant();
    return nSection == 0 ? QString("Name") : QString("Size");
}

Qt::ItemFlags CResultFolderModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractItemModel::flags(index);
    return index.column() == 0 ? flags | Qt::ItemIsUserCheckable : flags;
}

void CResultFolderModel::CollectRows(uint32_t nFolder, std::vector<uint32_t>& vecRows) const {
    const FOLDER& folder = m_vecFolders[nFolder];
    vecRows.insert(vecRows.end(), folder.vecRows.begin(), folder.vecRows.end());
    for (uint32_t nChild : folder.vecFolders)
        CollectRows(nChild, vecRows);
}

bool CResultFolderModel::setData(const QModelIndex& index, const QVariant& value, int nRole) {
    if (!index.isValid() || nRole != Qt::CheckStateRole || index.column() != 0)
        return false;
    bool bTicked = value.toInt() == Qt::Checked;
    std::vector<uint32_t> vecRows;
    long long llRow = RowOf(index);
    if (llRow >= 0)
        vecRows.push_back(static_cast<uint32_t>(llRow));
    else
        CollectRows(static_cast<uint32_t>(index.internalId()), vecRows);
    m_table.SetRowsTicked(vecRows, bTicked);
    return true;
}
