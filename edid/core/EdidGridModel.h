#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>

// The texts of the EDID hex view: 17 columns by 17 rows, the first row and column fixed.
// Row 0 shows the digits "0".."F" over columns 1..16, column 0 shows "00".."F0" beside rows
// 1..16, and byte k of the block is at column k % 16 + 1, row k / 16 + 1 as two upper-case
// hex digits. The view holds no content when all 256 data cells are empty.
//
// A Qt table model, so that a view shows it as it stands; cells are addressed as the grid
// does, column first.
class EdidGridModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EdidGridModel)
public:
    static constexpr int Columns = 17;
    static constexpr int Rows = 17;
    static constexpr int DataCells = 256;
    // The role that says whether a cell is one of the fixed header cells (bool).
    static constexpr int FixedRole = Qt::UserRole + 1;

    explicit EdidGridModel(QObject *parent = nullptr);

    static int columnOf(int byteIndex) { return byteIndex % 16 + 1; }
    static int rowOf(int byteIndex) { return byteIndex / 16 + 1; }
    static bool isFixed(int column, int row) { return column == 0 || row == 0; }

    QString cell(int column, int row) const;
    // Sets one cell's text as it stands (a data cell may then hold something that is not a
    // byte, which EDIDContentToBuffer refuses).
    void setCell(int column, int row, const QString &text);

    // Writes the headers; with a buffer that passes the content checks, also the 256 data
    // cells from its first 256 bytes, and returns true. Content that fails the checks leaves
    // the data cells as they were. Without a buffer, only the headers: false.
    bool ShowEDIDContent();
    bool ShowEDIDContent(QByteArrayView buffer);
    // Empties the 256 data cells; the headers stay.
    void ClearEDIDContent();
    // The non-empty data cells, row by row, as bytes; true when that makes exactly 256 bytes.
    // On false (a cell that is not two hex digits, or too few cells) the target is empty.
    bool EDIDContentToBuffer(QByteArray &target) const;
    bool isEmpty() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Qt::EditRole sets a data cell's text; fixed cells cannot be changed this way.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void writeHeaders();
    void dataCellsChanged();
    QString &at(int column, int row);

    std::array<QString, Columns * Rows> m_cells;
};
