#include "EdidGridModel.h"

#include "EdidContent.h"

namespace {

constexpr char Digits[] = "0123456789ABCDEF";

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

EdidGridModel::EdidGridModel(QObject *parent) : QAbstractTableModel(parent)
{
    writeHeaders();
}

QString &EdidGridModel::at(int column, int row)
{
    return m_cells[static_cast<std::size_t>(row * Columns + column)];
}

QString EdidGridModel::cell(int column, int row) const
{
    if (column < 0 || column >= Columns || row < 0 || row >= Rows)
        return {};
    return m_cells[static_cast<std::size_t>(row * Columns + column)];
}

void EdidGridModel::setCell(int column, int row, const QString &text)
{
    if (column < 0 || column >= Columns || row < 0 || row >= Rows || cell(column, row) == text)
        return;
    at(column, row) = text;
    const QModelIndex changed = index(row, column);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole, Qt::EditRole});
}

void EdidGridModel::writeHeaders()
{
    for (int i = 0; i < 16; ++i) {
        at(i + 1, 0) = QString(QLatin1Char(Digits[i]));
        at(0, i + 1) = QString(QLatin1Char(Digits[i])) + QLatin1Char('0');
    }
}

void EdidGridModel::dataCellsChanged()
{
    Q_EMIT dataChanged(index(1, 1), index(Rows - 1, Columns - 1), {Qt::DisplayRole, Qt::EditRole});
}

bool EdidGridModel::ShowEDIDContent()
{
    writeHeaders();
    Q_EMIT dataChanged(index(0, 0), index(Rows - 1, Columns - 1), {Qt::DisplayRole});
    return false;
}

bool EdidGridModel::ShowEDIDContent(QByteArrayView buffer)
{
    ShowEDIDContent();
    if (!edidContentPasses(buffer))
        return false;
    for (int k = 0; k < DataCells; ++k) {
        const auto byte = static_cast<quint8>(buffer[k]);
        const char text[] = {Digits[byte >> 4], Digits[byte & 0xF]};
        at(columnOf(k), rowOf(k)) = QString::fromLatin1(text, 2);
    }
    dataCellsChanged();
    return true;
}

void EdidGridModel::ClearEDIDContent()
{
    for (int k = 0; k < DataCells; ++k)
        at(columnOf(k), rowOf(k)).clear();
    dataCellsChanged();
}

bool EdidGridModel::EDIDContentToBuffer(QByteArray &target) const
{
    target.clear();
    for (int k = 0; k < DataCells; ++k) {
        const QString text = cell(columnOf(k), rowOf(k));
        if (text.isEmpty())
            continue;
        const int hi = text.size() == 2 ? hexValue(text[0]) : -1;
        const int lo = text.size() == 2 ? hexValue(text[1]) : -1;
        if (hi < 0 || lo < 0) {
            target.clear();
            return false;
        }
        target += static_cast<char>(hi << 4 | lo);
    }
    if (target.size() == DataCells)
        return true;
    target.clear();
    return false;
}

bool EdidGridModel::isEmpty() const
{
    for (int k = 0; k < DataCells; ++k) {
        if (!cell(columnOf(k), rowOf(k)).isEmpty())
            return false;
    }
    return true;
}

int EdidGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Rows;
}

int EdidGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant EdidGridModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cell(index.column(), index.row());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    case FixedRole:
        return isFixed(index.column(), index.row());
    default:
        return {};
    }
}

bool EdidGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid)
        || isFixed(index.column(), index.row()))
        return false;
    setCell(index.column(), index.row(), value.toString());
    return true;
}

Qt::ItemFlags EdidGridModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    // The view allows range selection but no editing.
    return isFixed(index.column(), index.row()) ? Qt::ItemIsEnabled
                                                : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
