// The hits under the folders they were found in: file-system hits by their original path,
// carved hits under "Carved files" and their category. Folders first, then files by name; a
// folder's box is ticked, partial or clear from the ticks of the files beneath it.
#pragma once

#include "ui/CResultTableModel.h"

#include <QAbstractItemModel>

#include <string>
#include <vector>

class CResultFolderModel : public QAbstractItemModel {
    Q_OBJECT
public:
    static constexpr int FOLDER_COLUMN_COUNT = 2; // name, size

    // Reads the path of every file-system hit once; the table model must outlive this model.
    explicit CResultFolderModel(CResultTableModel& table, QObject* pParent = nullptr);

    QModelIndex index(int nRow, int nColumn,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int nRole) override;

    // The folder path of an index row as this tree shows it ("Carved files/Photo/" for carved).
    std::string GetTreePath(uint32_t nRow) const;
    // The same of a file of the engine kind and category with that parent path.
    static std::string MakeTreePath(uint32_t nEngineType, int nCategory,
                                    const std::string& strParentPath);
    // The index row of a file item, or -1 for a folder.
    long long RowOf(const QModelIndex& index) const;

private:
    struct FOLDER {
        std::string strName;
        uint32_t nParent;
        uint32_t nPosition; // among the parent's folders
        std::vector<uint32_t> vecFolders;
        std::vector<uint32_t> vecRows;
    };
    static constexpr uint32_t ROOT = 0;
    static constexpr quintptr FILE_FLAG = quintptr(1) << 63;

    uint32_t FolderOfPath(const std::string& strPath);
    uint32_t ChildFolder(uint32_t nParent, const std::string& strName);
    void SortFolders(uint32_t nFolder);
    void CountTicks(uint32_t nFolder, uint64_t& u64Ticked, uint64_t& u64All) const;
    void CollectRows(uint32_t nFolder, std::vector<uint32_t>& vecRows) const;
    static uint32_t FolderOfId(quintptr nId) {
        return static_cast<uint32_t>(nId >> 32) & 0x7FFFFFFF;
    }

    CResultTableModel& m_table;
    std::vector<FOLDER> m_vecFolders;
    std::vector<uint32_t> m_vecFolderOfRow;
};
